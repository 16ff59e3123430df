/*
 * Machine-dependent JNI definitions for the Windows targets (x86 and x64), included by the
 * JDK's jni.h. Natives are exported from the DLL and use the standard-call convention, which
 * on x86 decorates each name with the byte count of its arguments; on x64 there is one
 * calling convention and __stdcall is ignored.
 */
#ifndef _JAVASOFT_JNI_MD_H_
#define _JAVASOFT_JNI_MD_H_

#define JNIEXPORT __declspec(dllexport)
#define JNIIMPORT __declspec(dllimport)
#define JNICALL __stdcall

typedef int jint;
typedef long long jlong;
typedef signed char jbyte;

#endif /* !_JAVASOFT_JNI_MD_H_ */
