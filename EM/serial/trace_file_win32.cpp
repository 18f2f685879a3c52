// The trace file on Windows: a new file gets a protected access list that grants its owner
// alone; the file is opened for appending without following a reparse point (a symbolic link
// or junction) and used only when it is a plain disk file, never a device or a pipe.
#include "serial/trace_file.h"

#include <windows.h>

namespace {

constexpr DWORD kMaxTracePath = MAX_PATH;
constexpr DWORD kSidRoom = 256;
constexpr DWORD kAclRoom = 512;
// 100 ns intervals from 1601-01-01 to 1970-01-01.
constexpr std::int64_t kUnixEpochInFileTime = 116444736000000000LL;

// The user this process runs as, copied into room.
PSID CurrentUser(BYTE (&room)[kSidRoom]) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        return nullptr;
    }
    DWORD needed = 0;
    const BOOL known = GetTokenInformation(token, TokenUser, room, sizeof room, &needed);
    CloseHandle(token);
    return known ? reinterpret_cast<TOKEN_USER *>(room)->User.Sid : nullptr;
}

// Security attributes whose access list names the current user alone and takes nothing
// from the folder. Everything lives in the caller's buffers.
struct OwnerOnly {
    alignas(TOKEN_USER) BYTE user[kSidRoom];
    alignas(ACL) BYTE acl[kAclRoom];
    SECURITY_DESCRIPTOR descriptor;
    SECURITY_ATTRIBUTES attributes;
};

bool MakeOwnerOnly(OwnerOnly &owner) {
    const PSID user = CurrentUser(owner.user);
    auto *acl = reinterpret_cast<PACL>(owner.acl);
    if (user == nullptr || !InitializeAcl(acl, sizeof owner.acl, ACL_REVISION) ||
        !AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, user) ||
        !InitializeSecurityDescriptor(&owner.descriptor, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(&owner.descriptor, TRUE, acl, FALSE) ||
        !SetSecurityDescriptorControl(&owner.descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED)) {
        return false;
    }
    owner.attributes.nLength = sizeof owner.attributes;
    owner.attributes.lpSecurityDescriptor = &owner.descriptor;
    owner.attributes.bInheritHandle = FALSE;
    return true;
}

bool IsPlainDiskFile(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION information{};
    return GetFileType(file) == FILE_TYPE_DISK && GetFileInformationByHandle(file, &information) &&
           (information.dwFileAttributes &
            (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) == 0;
}

} // namespace

TraceFile OpenTraceFile() {
    char path[kMaxTracePath];
    const DWORD length = GetEnvironmentVariableA("EM_TRACE", path, sizeof path);
    if (length == 0 || length >= sizeof path) {
        return kNoTraceFile;
    }
    OwnerOnly owner{};
    if (!MakeOwnerOnly(owner)) {
        return kNoTraceFile;
    }
    HANDLE file =
        CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, &owner.attributes,
                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return kNoTraceFile;
    }
    if (!IsPlainDiskFile(file)) {
        CloseHandle(file);
        return kNoTraceFile;
    }
    return reinterpret_cast<TraceFile>(file);
}

void WriteTraceFile(TraceFile file, const char *text, std::size_t length) {
    DWORD written = 0;
    WriteFile(reinterpret_cast<HANDLE>(file), text, static_cast<DWORD>(length), &written, nullptr);
}

void CloseTraceFile(TraceFile file) {
    if (file != kNoTraceFile) {
        CloseHandle(reinterpret_cast<HANDLE>(file));
    }
}

std::int64_t TraceClockMs() {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    const std::int64_t ticks = static_cast<std::int64_t>(
        (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
    return (ticks - kUnixEpochInFileTime) / 10000;
}
