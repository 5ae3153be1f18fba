// The Win32 calls that the Linux layer implements, with their Windows
// signatures. What each means on Linux is stated where it differs from
// Windows; the files that implement them say the rest.
#pragma once

#include <stdarg.h>

#include "winapi/linux/com_types.h"
#include "winapi/linux/types.h"

// Errors (errors.cpp). Every failing call of the layer sets the last error,
// a Win32 code mapped from errno through one table.
DWORD WINAPI GetLastError();
void WINAPI SetLastError(DWORD code);
// FORMAT_MESSAGE_FROM_SYSTEM only: for a code the layer produced, the text of
// the errno behind it followed by CR LF; for our COM HRESULTs a text of our
// own; otherwise nothing (0, ERROR_MR_MID_NOT_FOUND).
DWORD WINAPI FormatMessageA(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId,
                            LPSTR buffer, DWORD size, va_list* arguments);

// Files (files.cpp): existing files opened for reading, and the standard
// handles written to. Share modes are advisory locks among our processes.
HANDLE WINAPI CreateFileA(LPCSTR name, DWORD access, DWORD shareMode,
                          LPSECURITY_ATTRIBUTES security, DWORD creation, DWORD flags,
                          HANDLE templateFile);
BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read,
                     LPOVERLAPPED overlapped);
BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written,
                      LPOVERLAPPED overlapped);
DWORD WINAPI GetFileSize(HANDLE file, LPDWORD sizeHigh);
DWORD WINAPI GetFileType(HANDLE file);
BOOL WINAPI CloseHandle(HANDLE object);
DWORD WINAPI GetFileAttributesA(LPCSTR name);
// Lexical: current directory + name, "." and ".." resolved, no links followed.
DWORD WINAPI GetFullPathNameA(LPCSTR name, DWORD size, LPSTR buffer, LPSTR* filePart);

// Console (console.cpp). A console is a terminal.
HANDLE WINAPI GetStdHandle(DWORD which);
BOOL WINAPI GetConsoleMode(HANDLE console, LPDWORD mode);
BOOL WINAPI SetConsoleMode(HANDLE console, DWORD mode);
BOOL WINAPI ReadConsoleA(HANDLE console, LPVOID buffer, DWORD toRead, LPDWORD read,
                         LPVOID inputControl);
BOOL WINAPI WriteConsoleA(HANDLE console, const void* buffer, DWORD toWrite, LPDWORD written,
                          LPVOID reserved);
BOOL WINAPI SetConsoleTitleA(LPCSTR title);
// Null: a terminal has no window (windows.cpp).
HWND WINAPI GetConsoleWindow();

// Windows and message boxes (windows.cpp). There are no windows on Linux: a
// message box is a text box on the controlling terminal.
int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
BOOL WINAPI MessageBeep(UINT type);
BOOL WINAPI EnumWindows(WNDENUMPROC callback, LPARAM param);
DWORD WINAPI GetWindowThreadProcessId(HWND window, LPDWORD processId);
LONG WINAPI GetWindowLongA(HWND window, int index);
BOOL WINAPI IsWindow(HWND window);
BOOL WINAPI IsIconic(HWND window);
BOOL WINAPI GetWindowPlacement(HWND window, WINDOWPLACEMENT* placement);
BOOL WINAPI ShowWindow(HWND window, int command);
BOOL WINAPI SetForegroundWindow(HWND window);

// Threads (threads.cpp).
HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES security, SIZE_T stackSize,
                           LPTHREAD_START_ROUTINE start, LPVOID parameter, DWORD flags,
                           LPDWORD threadId);
DWORD WINAPI WaitForSingleObject(HANDLE object, DWORD milliseconds);
BOOL WINAPI GetExitCodeThread(HANDLE thread, LPDWORD exitCode);
DWORD WINAPI GetCurrentThreadId();
DWORD WINAPI GetCurrentProcessId();
HANDLE WINAPI GetCurrentProcess();
LONG WINAPI InterlockedIncrement(LONG volatile* value);
LONG WINAPI InterlockedDecrement(LONG volatile* value);

// Process and modules (process.cpp).
// The command line rebuilt from argv so that the tokenizer reads back what
// the user meant (see process.cpp for the rules).
LPSTR WINAPI GetCommandLineA();
HMODULE WINAPI GetModuleHandleA(LPCSTR moduleName);
DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size);
SIZE_T WINAPI VirtualQuery(LPCVOID address, PMEMORY_BASIC_INFORMATION info, SIZE_T length);
// On the current process only: a read that faults fails instead.
BOOL WINAPI ReadProcessMemory(HANDLE process, LPCVOID address, LPVOID buffer, SIZE_T size,
                              SIZE_T* read);

// Text (text.cpp). The ANSI code page is UTF-8; wide text is UTF-16.
int WINAPI LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int bufferMax);
int WINAPI CompareStringA(LCID locale, DWORD flags, LPCSTR string1, int count1, LPCSTR string2,
                          int count2);
int WINAPI CompareStringW(LCID locale, DWORD flags, LPCWSTR string1, int count1, LPCWSTR string2,
                          int count2);
int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR multiByte, int multiByteCount,
                               LPWSTR wide, int wideCount);
int WINAPI WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int wideCount,
                               LPSTR multiByte, int multiByteCount, LPCSTR defaultChar,
                               LPBOOL usedDefaultChar);

// The C run time's Windows flavour: at most `count` characters, no NUL when
// the text fills them exactly, and a negative result when it does not fit.
int _vsnprintf(char* buffer, size_t count, const char* format, va_list args)
    __attribute__((format(printf, 3, 0)));

// COM and Automation (com.cpp): only what the tool and its server call, with
// the Windows semantics. In-process servers are found through the layer's
// registry (see com.cpp), as Windows finds them through its own. Plain C
// names, as on Windows: executables export them (com_exports.list) and a
// server's shared object binds to them by name.
extern "C" {
HRESULT WINAPI CoInitialize(LPVOID reserved);
HRESULT WINAPI CoInitializeEx(LPVOID reserved, DWORD coInit);
void WINAPI CoUninitialize();
HRESULT WINAPI CLSIDFromProgID(LPCOLESTR progId, CLSID* clsid);
HRESULT WINAPI CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid,
                                LPVOID* object);
HRESULT WINAPI CoRegisterClassObject(REFCLSID clsid, IUnknown* factory, DWORD context, DWORD flags,
                                     LPDWORD cookie);
HRESULT WINAPI CoRevokeClassObject(DWORD cookie);
BSTR WINAPI SysAllocString(const OLECHAR* text);
BSTR WINAPI SysAllocStringLen(const OLECHAR* text, UINT length);
UINT WINAPI SysStringLen(BSTR text);
void WINAPI SysFreeString(BSTR text);
void WINAPI VariantInit(VARIANTARG* variant);
HRESULT WINAPI VariantClear(VARIANTARG* variant);
HRESULT WINAPI SetErrorInfo(ULONG reserved, IErrorInfo* info);
HRESULT WINAPI GetErrorInfo(ULONG reserved, IErrorInfo** info);
HRESULT WINAPI CreateErrorInfo(ICreateErrorInfo** info);
}  // extern "C"

// The program's application entry, called by the layer's main() with the
// shape of a Windows program's entry.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show);
