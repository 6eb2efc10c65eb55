#include <windows.h>

#include <algorithm>
#include <stdexcept>

#include "common/utf.h"
#include "platform/durable_file.h"

namespace tovrik {

namespace {

std::string SystemMessage(DWORD error) {
    wchar_t* buffer = nullptr;
    const DWORD size = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::u16string text;
    if (size > 0 && buffer != nullptr) text.assign(buffer, buffer + size);
    if (buffer != nullptr) LocalFree(buffer);
    while (!text.empty() && (text.back() == u'\r' || text.back() == u'\n' || text.back() == u' ')) {
        text.pop_back();
    }
    if (text.empty()) return "error " + std::to_string(error);
    return Utf16ToUtf8(text);
}

[[noreturn]] void Fail(const std::string& what, const std::string& path, DWORD error) {
    throw std::runtime_error(what + " " + path + ": " + SystemMessage(error));
}

}  // namespace

struct DurableFile::Handle {
    HANDLE File = INVALID_HANDLE_VALUE;
};

DurableFile::DurableFile(const std::string& path) : path_(path), handle_(new Handle) {
    handle_->File = CreateFileW(Utf8ToWide(path).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ,
                                nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle_->File == INVALID_HANDLE_VALUE) Fail("作成できません:", path, GetLastError());
}

DurableFile::~DurableFile() {
    if (handle_->File != INVALID_HANDLE_VALUE) CloseHandle(handle_->File);
}

void DurableFile::Append(const std::string& text) {
    std::size_t written = 0;
    while (written < text.size()) {
        const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(text.size() - written,
                                                                      1u << 30));
        DWORD n = 0;
        if (!WriteFile(handle_->File, text.data() + written, wanted, &n, nullptr) || n == 0) {
            Fail("書き込めません:", path_, GetLastError());
        }
        written += n;
    }
}

void DurableFile::Sync() {
    if (!FlushFileBuffers(handle_->File)) Fail("ディスクに書き込めません:", path_, GetLastError());
}

void CreateFolderIfMissing(const std::string& path) {
    const std::wstring wide = Utf8ToWide(path);
    if (CreateDirectoryW(wide.c_str(), nullptr)) return;
    const DWORD error = GetLastError();
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return;
    }
    Fail("フォルダーを作成できません:", path, error == ERROR_ALREADY_EXISTS ? ERROR_DIRECTORY : error);
}

}  // namespace tovrik
