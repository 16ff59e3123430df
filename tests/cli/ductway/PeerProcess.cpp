#include "tests/cli/ductway/PeerProcess.h"

#include <vector>

namespace orvela::test {

std::string executableDirectory() {
    char path[MAX_PATH] = {};
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir(path, n);
    size_t slash = dir.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : dir.substr(0, slash + 1);
}

PeerProcess::PeerProcess(const std::string& args) {
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);

    std::string program = executableDirectory() + "ductway_peer.exe";
    std::string commandLine = "\"" + program + "\" " + args;
    std::vector<char> mutableLine(commandLine.begin(), commandLine.end());
    mutableLine.push_back('\0');
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION info = {};
    BOOL ok = CreateProcessA(program.c_str(), mutableLine.data(), nullptr, nullptr, TRUE, 0,
                             nullptr, nullptr, &startup, &info);
    CloseHandle(writeEnd);
    if (!ok) {
        CloseHandle(readEnd);
        return;
    }
    CloseHandle(info.hThread);
    process_ = info.hProcess;
    output_ = readEnd;
}

PeerProcess::~PeerProcess() {
    if (process_ != nullptr) {
        // A peer still running when the test gives up is ended, never left behind.
        if (WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) TerminateProcess(process_, 99);
        CloseHandle(process_);
    }
    if (output_ != nullptr) CloseHandle(output_);
}

std::string PeerProcess::readLine() {
    for (;;) {
        size_t end = pending_.find('\n');
        if (end != std::string::npos) {
            std::string line = pending_.substr(0, end);
            pending_.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            return line;
        }
        char buf[256];
        DWORD n = 0;
        if (output_ == nullptr || !ReadFile(output_, buf, sizeof(buf), &n, nullptr) || n == 0) {
            std::string rest;
            rest.swap(pending_);
            return rest;
        }
        pending_.append(buf, n);
    }
}

DWORD PeerProcess::finish(std::string* rest) {
    if (process_ == nullptr) return static_cast<DWORD>(-1);
    std::string all;
    for (std::string line = readLine(); !line.empty(); line = readLine()) all += line + "\n";
    WaitForSingleObject(process_, 30000);
    DWORD code = static_cast<DWORD>(-1);
    GetExitCodeProcess(process_, &code);
    if (rest != nullptr) *rest = all;
    return code;
}

}  // namespace orvela::test
