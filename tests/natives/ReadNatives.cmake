# Reads one natives list and prints its names (for NativesListTest.cmake):
#   cmake -DMODULE=<cmake/OrvelaNativeExports.cmake> -DLIST=<list> -P ReadNatives.cmake
cmake_minimum_required(VERSION 3.25)
include(${MODULE})
_orvela_read_natives(${LIST} names bytes)
message(STATUS "${names}")
