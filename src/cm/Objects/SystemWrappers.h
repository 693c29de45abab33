// Thin checked wrappers over single system calls; each raises EWin32Error in the system error
// message form with the message given in its comment.
#pragma once

#include <cstdint>
#include <string>

#include "cm/Objects/WinApi.h"

namespace cm {

HMODULE LoadLibraryChecked(const std::string& name);                  // "Cannot load library '%s'"
FARPROC GetProcAddressChecked(HMODULE module, const std::string& name);  // "Cannot get address of procedure '%s'"
HMODULE GetModuleHandleChecked(const std::string& name);              // "Cannot get handle of module '%s'"
std::string GetModuleFileNameChecked(HMODULE module);                 // "Cannot get filename of module 0x0%x"
void CloseHandleChecked(HANDLE handle);                               // "Failed to close handle 0x0%x"
void SetFileTimeChecked(HANDLE file, const FILETIME* creation, const FILETIME* access, const FILETIME* write);  // "Failed to set file time"
BY_HANDLE_FILE_INFORMATION GetFileInformationChecked(HANDLE file);    // "Failed to get file information for handle 0x0%x"
// Sets the file pointer; all ones is a failure only when the last error is not 0.
int64_t SetFilePointerChecked(HANDLE file, int64_t distance, DWORD method);  // "Failed to set file pointer for handle 0x0%x"
int64_t GetFileSizeChecked(HANDLE file);                              // "Failed to get file size for handle 0x0%x"
void SetEndOfFileChecked(HANDLE file);                                // "Failed to set end of file for handle 0x0%x"
BY_HANDLE_FILE_INFORMATION GetFileInformationByName(const std::string& path);  // "Cannot open file for getting file information: %s"
std::string GuidToString(const GUID& guid);                           // "Failed to convert GUID to string"
HANDLE DuplicateHandleChecked(HANDLE source, HANDLE fromProcess, HANDLE toProcess);  // "Failed to duplicate handle ..."
void* VirtualAllocChecked(void* address, size_t size, DWORD allocationType, DWORD protect);  // "Failed to allocate %d bytes of virtual memory at 0x0%p"
void VirtualFreeChecked(void* address, size_t size, DWORD freeType);  // "Failed to free %d bytes of virtual memory at 0x0%p"
MEMORY_BASIC_INFORMATION VirtualQueryChecked(const void* address);    // "Failed to query virtual memory at 0x0%p"
void FlushFileBuffersChecked(HANDLE file);                            // "Failed to flush file buffers"
// Returns the old protection. "Failed to change protection of %d bytes at 0x0%p".
DWORD ProtectMemory(void* address, size_t size, DWORD protect);
// Read once (16-character buffer), then served from a process-wide copy.
std::string GetComputerNameChecked();                                 // "Failed to get computer name"
// Never raises: "<Unknown:" + error message + ">" on failure.
std::string GetComputerNameSafe();

// Stack the system keeps back for the calling thread's exception handling after a stack overflow
// (the exception watch's short report runs on it).
constexpr unsigned long ExceptionStackReserveBytes = 64 * 1024;
// Reserves ExceptionStackReserveBytes for the calling thread; false where the system cannot.
bool ReserveExceptionStack() noexcept;
// The Windows system directory with a trailing backslash, taken once.
const std::string& SystemDirectory();

}  // namespace cm
