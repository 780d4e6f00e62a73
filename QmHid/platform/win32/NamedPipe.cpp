#include "platform/win32/NamedPipe.h"

#include <windows.h>
// clang-format off
#include <sddl.h>
// clang-format on

namespace qm {

namespace {

HANDLE H(intptr_t h) {
    return reinterpret_cast<HANDLE>(h);
}

// Waits for the stop event or the operation's event; an operation that the stop interrupts is
// cancelled and waited for, so that its record and buffer are free when this returns.
PipeResult WaitOrStop(HANDLE pipe, OVERLAPPED& ov, Event& stop, DWORD& transferred) {
    HANDLE set[2] = {H(stop.NativeHandle()), ov.hEvent};
    const DWORD r = WaitForMultipleObjects(2, set, FALSE, INFINITE);
    if (r == WAIT_OBJECT_0) {
        CancelIoEx(pipe, &ov);
        GetOverlappedResult(pipe, &ov, &transferred, TRUE);
        return PipeResult::Stop;
    }
    if (r != WAIT_OBJECT_0 + 1)
        return PipeResult::Failed;
    if (GetOverlappedResult(pipe, &ov, &transferred, FALSE))
        return PipeResult::Ok;
    return GetLastError() == ERROR_BROKEN_PIPE ? PipeResult::Broken : PipeResult::Failed;
}

}  // namespace

bool NamedPipeServer::Create() {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(kControlPipeSecurity, SDDL_REVISION_1,
                                                              &descriptor, nullptr))
        return false;
    SECURITY_ATTRIBUTES security{sizeof security, descriptor, FALSE};
    // One instance, and the first of its name: a pipe of that name made by another process
    // first makes this fail, so clients never reach a stranger in the service's place. Remote
    // clients are refused where the system knows the flag (Vista on).
    const DWORD openMode =
        PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE;
    const DWORD pipeMode = PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT;
    HANDLE pipe = CreateNamedPipeA(name_, openMode, pipeMode | PIPE_REJECT_REMOTE_CLIENTS, 1, 1024,
                                   1024, 0xFFFFFFFF, &security);
    rejectsRemote_ = pipe != INVALID_HANDLE_VALUE;
    if (pipe == INVALID_HANDLE_VALUE && GetLastError() == ERROR_INVALID_PARAMETER)
        pipe = CreateNamedPipeA(name_, openMode, pipeMode, 1, 1024, 1024, 0xFFFFFFFF, &security);
    const DWORD error = GetLastError();
    LocalFree(descriptor);
    if (pipe == INVALID_HANDLE_VALUE) {
        SetLastError(error);
        return false;
    }
    HANDLE io = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    HANDLE write = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (io == nullptr || write == nullptr) {
        CloseHandle(pipe);
        if (io != nullptr)
            CloseHandle(io);
        if (write != nullptr)
            CloseHandle(write);
        return false;
    }
    LockGuard guard(handleLock_);
    pipe_ = reinterpret_cast<intptr_t>(pipe);
    ioEvent_ = reinterpret_cast<intptr_t>(io);
    writeEvent_ = reinterpret_cast<intptr_t>(write);
    return true;
}

PipeResult NamedPipeServer::WaitForClient(Event& stop) {
    OVERLAPPED ov{};
    ov.hEvent = H(ioEvent_);
    if (ConnectNamedPipe(H(pipe_), &ov))
        return PipeResult::Ok;
    const DWORD error = GetLastError();
    // A client that came between the pipe's creation and the connect is connected already.
    if (error != ERROR_IO_PENDING)
        return PipeResult::Ok;
    DWORD n = 0;
    return WaitOrStop(H(pipe_), ov, stop, n) == PipeResult::Stop ? PipeResult::Stop
                                                                 : PipeResult::Ok;
}

PipeResult NamedPipeServer::Read(uint8_t* buffer, uint32_t capacity, uint32_t& got, Event& stop) {
    got = 0;
    OVERLAPPED ov{};
    ov.hEvent = H(ioEvent_);
    DWORD n = 0;
    if (ReadFile(H(pipe_), buffer, capacity, nullptr, &ov)) {
        GetOverlappedResult(H(pipe_), &ov, &n, FALSE);
        got = n;
        return PipeResult::Ok;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_BROKEN_PIPE)
        return PipeResult::Broken;
    if (error != ERROR_IO_PENDING)
        return PipeResult::Failed;
    const PipeResult r = WaitOrStop(H(pipe_), ov, stop, n);
    if (r == PipeResult::Ok)
        got = n;
    return r;
}

PipeResult NamedPipeServer::Write(const uint8_t* message, uint32_t length, uint32_t timeoutMs,
                                  Event& stop) {
    OVERLAPPED ov{};
    ov.hEvent = H(ioEvent_);
    if (WriteFile(H(pipe_), message, length, nullptr, &ov))
        return PipeResult::Ok;
    if (GetLastError() != ERROR_IO_PENDING)
        return PipeResult::Broken;
    HANDLE set[2] = {H(stop.NativeHandle()), ov.hEvent};
    const DWORD r = WaitForMultipleObjects(2, set, FALSE, timeoutMs);
    DWORD n = 0;
    if (r == WAIT_OBJECT_0 + 1 && GetOverlappedResult(H(pipe_), &ov, &n, FALSE) && n == length)
        return PipeResult::Ok;
    // Stopped, not taken in time, or failed: nothing of it may stay pending on the record.
    CancelIoEx(H(pipe_), &ov);
    GetOverlappedResult(H(pipe_), &ov, &n, TRUE);
    return r == WAIT_OBJECT_0 ? PipeResult::Stop : PipeResult::Broken;
}

void NamedPipeServer::Interrupt() {
    // Cancels the pipe thread's pending connect, read or write and any pending push.
    LockGuard guard(handleLock_);
    if (pipe_ != 0)
        CancelIoEx(H(pipe_), nullptr);
}

void NamedPipeServer::Disconnect() {
    if (pipe_ != 0)
        DisconnectNamedPipe(H(pipe_));
}

void NamedPipeServer::Close() {
    LockGuard guard(handleLock_);
    if (pipe_ != 0) {
        DisconnectNamedPipe(H(pipe_));
        CloseHandle(H(pipe_));
    }
    if (ioEvent_ != 0)
        CloseHandle(H(ioEvent_));
    if (writeEvent_ != 0)
        CloseHandle(H(writeEvent_));
    pipe_ = ioEvent_ = writeEvent_ = 0;
}

bool NamedPipeServer::Push(const uint8_t* message, uint32_t length, uint32_t timeoutMs) {
    if (pipe_ == 0)
        return false;
    OVERLAPPED ov{};
    ov.hEvent = H(writeEvent_);
    if (WriteFile(H(pipe_), message, length, nullptr, &ov))
        return true;
    if (GetLastError() != ERROR_IO_PENDING)
        return false;
    DWORD n = 0;
    // The event also comes when the write was cancelled: only a completed write counts.
    if (WaitForSingleObject(H(writeEvent_), timeoutMs) == WAIT_OBJECT_0 &&
        GetOverlappedResult(H(pipe_), &ov, &n, FALSE) && n == length)
        return true;
    // Not taken in time: the write is cancelled and waited for before its record goes.
    CancelIoEx(H(pipe_), &ov);
    GetOverlappedResult(H(pipe_), &ov, &n, TRUE);
    return false;
}

bool NamedPipeClient::Open() {
    HANDLE pipe = CreateFileA(name_, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr);
    if (pipe == INVALID_HANDLE_VALUE)
        return false;
    DWORD mode = PIPE_READMODE_MESSAGE;
    SetNamedPipeHandleState(pipe, &mode, nullptr, nullptr);
    pipe_ = reinterpret_cast<intptr_t>(pipe);
    return true;
}

bool NamedPipeClient::Transfer(bool write, uint8_t* buffer, uint32_t length, uint32_t timeoutMs) {
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (event == nullptr)
        return false;
    OVERLAPPED ov{};
    ov.hEvent = event;
    DWORD n = 0;
    const BOOL started = write ? WriteFile(H(pipe_), buffer, length, nullptr, &ov)
                               : ReadFile(H(pipe_), buffer, length, nullptr, &ov);
    if (!started && GetLastError() == ERROR_IO_PENDING &&
        WaitForSingleObject(event, timeoutMs) != WAIT_OBJECT_0) {
        // Timed out: cancel and wait, so nothing writes into the record or buffer later.
        CancelIoEx(H(pipe_), &ov);
        GetOverlappedResult(H(pipe_), &ov, &n, TRUE);
        CloseHandle(event);
        return false;
    }
    if (!GetOverlappedResult(H(pipe_), &ov, &n, FALSE))
        n = 0;
    CloseHandle(event);
    return n == length;
}

bool NamedPipeClient::TimedWrite(const uint8_t* message, uint32_t length, uint32_t timeoutMs) {
    return Transfer(true, const_cast<uint8_t*>(message), length, timeoutMs);
}

bool NamedPipeClient::TimedRead(uint8_t* buffer, uint32_t length, uint32_t timeoutMs) {
    return Transfer(false, buffer, length, timeoutMs);
}

int NamedPipeClient::Close() {
    const BOOL ok = CloseHandle(H(pipe_));
    pipe_ = 0;
    return ok;
}

}  // namespace qm
