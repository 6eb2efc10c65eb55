#include "support/test_support.h"

#include "common/utf.h"
#include "platform/platform.h"

#ifdef _WIN32
#include <process.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <stdexcept>
#include <utility>

namespace tovrik::test {

TempDir::TempDir() {
    std::random_device random;
    const auto base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        char name[32];
        std::snprintf(name, sizeof name, "tovrik-test-%08x", static_cast<unsigned>(random()));
        // create_directory is false when the name is taken: try another.
        if (std::filesystem::create_directory(base / name)) {
            path_ = base / name;
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary folder in " + base.string());
}

TempDir::~TempDir() {
    std::error_code ignored;
    // Restore write permission first so read-only fixtures can be removed too.
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
        std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
    }
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path_, ignored);
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void WriteFile(const std::filesystem::path& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

std::filesystem::path SourcePath(const std::string& relative) {
    const char* root = std::getenv("TOVRIK_SOURCE_DIR");
    return std::filesystem::path(root != nullptr ? root : ".") / relative;
}

void SetEnv(const std::string& name, const std::string& value) {
#ifdef _WIN32
    _putenv_s(name.c_str(), value.c_str());
#else
    setenv(name.c_str(), value.c_str(), 1);
#endif
}

std::optional<std::string> ProfileBytes(const std::string& utf8) {
#ifdef _WIN32
    return Utf8ToAnsi(utf8);
#else
    return utf8;
#endif
}

std::string ProfileContent(const std::filesystem::path& fixture) {
    const std::string content = ReadFile(fixture);
#ifdef _WIN32
    // A byte-order mark names the file UTF-8 whatever the code page: such a file stays as it is.
    if (content.rfind("\xEF\xBB\xBF", 0) == 0) return content;
    std::string converted;
    for (std::size_t i = 0; i < content.size();) {
        // One UTF-8 character at a time (bytes that start none are taken alone).
        std::size_t length = 1;
        while (i + length < content.size() && length < 4 &&
               (static_cast<unsigned char>(content[i + length]) & 0xC0) == 0x80) {
            ++length;
        }
        converted += Utf8ToAnsi(content.substr(i, length)).value_or("?");
        i += length;
    }
    return converted;
#else
    return content;
#endif
}

std::filesystem::path ProfileCopy(const std::filesystem::path& fixture,
                                  const std::filesystem::path& folder) {
    const std::filesystem::path copy = folder / fixture.filename();
    WriteFile(copy, ProfileContent(fixture));
    return copy;
}

std::string ProfileLayout(const std::string& content) {
#ifdef _WIN32
    const auto trim = [](std::string text) {
        const std::size_t first = text.find_first_not_of(" \t");
        if (first == std::string::npos) return std::string();
        return text.substr(first, text.find_last_not_of(" \t") - first + 1);
    };
    std::string layout;
    std::size_t begin = content.rfind("\xEF\xBB\xBF", 0) == 0 ? 3 : 0;
    while (begin < content.size()) {
        std::size_t end = content.find_first_of("\r\n", begin);
        if (end == std::string::npos) end = content.size();
        std::string line = trim(content.substr(begin, end - begin));
        const std::size_t equals = line.find('=');
        if (!line.empty() && line.front() != ';' && line.front() != '[' &&
            equals != std::string::npos) {
            line = trim(line.substr(0, equals)) + "=" + trim(line.substr(equals + 1));
        }
        if (!line.empty()) layout += line + "\r\n";
        begin = end + (content.compare(end, 2, "\r\n") == 0 ? 2 : 1);
    }
    return layout;
#else
    return content;
#endif
}

std::string DriverPath(const std::filesystem::path& path) {
#ifdef _WIN32
    // Wine's kernel32 names the Linux file of a Windows path; Windows itself has no such export.
    // It names existing files only, so a missing tail is appended to its nearest existing folder.
    using UnixFileName = char*(__cdecl*)(const wchar_t*);
    static const auto unixFileName = reinterpret_cast<UnixFileName>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (unixFileName != nullptr) {
        std::filesystem::path existing = std::filesystem::absolute(path);
        std::filesystem::path missing;
        while (!std::filesystem::exists(existing) && existing.has_relative_path()) {
            missing = missing.empty() ? existing.filename() : existing.filename() / missing;
            existing = existing.parent_path();
        }
        if (char* name = unixFileName(existing.wstring().c_str())) {
            std::string result(name);
            HeapFree(GetProcessHeap(), 0, name);
            if (!missing.empty()) result += "/" + missing.generic_string();
            return result;
        }
    }
#endif
    return path.string();
}

}  // namespace tovrik::test

// -------------------------------------------------------------------------------------------------
// Databases

namespace tovrik::test {

namespace {

std::string UniqueSuffix() {
    static int counter = 0;
    std::random_device random;
    char buffer[64];
#ifdef _WIN32
    const long pid = _getpid();
#else
    const long pid = getpid();
#endif
    std::snprintf(buffer, sizeof buffer, "%ld_%d_%04x", pid, ++counter, random() & 0xFFFFu);
    return buffer;
}

}  // namespace

std::string UniqueName(const std::string& prefix) { return prefix + UniqueSuffix(); }

namespace {

std::string PgDriverString(const PgServer& server, const std::string& database) {
    return "Driver={PostgreSQL Unicode};Servername=" + server.Host +
           ";Port=" + std::to_string(server.Port) + ";Database=" + database +
           ";UID=" + server.User + ";PWD=" + server.Password + ";";
}

}  // namespace

void RegisterUserDsn(const std::string& name,
                     const std::vector<std::pair<std::string, std::string>>& keys) {
    const char* ini = std::getenv("ODBCINI");
    if (ini == nullptr || *ini == '\0') {
        throw std::runtime_error("ODBCINI is not set: the test main gives each process its own");
    }
    // Keep every other section; replace this one.
    std::string kept;
    std::istringstream old(ReadFile(ini));
    bool skip = false;
    for (std::string line; std::getline(old, line);) {
        if (!line.empty() && line.front() == '[') skip = line == "[" + name + "]";
        if (!skip) kept += line + "\n";
    }
    kept += "[" + name + "]\n";
    for (const auto& [key, value] : keys) kept += key + "=" + value + "\n";
    WriteFile(ini, kept);
}

std::string BackendName(Backend backend) {
    return backend == Backend::Sqlite ? "SQLite" : "PostgreSQL";
}

const PgServer& PgServerInfo() {
    static const PgServer server = [] {
        const char* dir = std::getenv("TOVRIK_PG_DIR");
        if (dir == nullptr || *dir == '\0') {
            throw std::runtime_error("TOVRIK_PG_DIR is not set: run the tests through ctest");
        }
        const auto file = std::filesystem::path(dir) / "env";
        std::ifstream in(file);
        if (!in) {
            throw std::runtime_error("The private PostgreSQL server is not running (" +
                                     file.string() +
                                     " is missing): run through ctest, whose \"postgres\" "
                                     "fixture starts it (scripts/pg-test-server)");
        }
        std::map<std::string, std::string> values;
        for (std::string line; std::getline(in, line);) {
            const auto equals = line.find('=');
            if (equals != std::string::npos)
                values[line.substr(0, equals)] = line.substr(equals + 1);
        }
        PgServer result;
        result.Host = values["TOVRIK_PG_HOST"];
        result.Port = std::atoi(values["TOVRIK_PG_PORT"].c_str());
        result.User = values["TOVRIK_PG_USER"];
        result.Password = values["TOVRIK_PG_PASSWORD"];
        result.Database = values["TOVRIK_PG_DATABASE"];
        result.Dsn = values["TOVRIK_PG_DSN"];
        if (result.Host.empty() || result.Port == 0 || result.User.empty() || result.Dsn.empty()) {
            throw std::runtime_error(file.string() + " is incomplete");
        }
        return result;
    }();
    return server;
}

std::unique_ptr<db::Connection> SuiteDb::Connect() const {
    auto connection = std::make_unique<db::Connection>();
    connection->Open(ConnectionString());
    return connection;
}

SqliteSuiteDb::SqliteSuiteDb() : file_(dir_.Path() / "suite.db") {
    // Creating the file here means the database exists even before anything connects.
    WriteFile(file_, "");
}

std::string SqliteSuiteDb::ConnectionString() const {
    return "Driver=SQLite3;Database=" + DriverPath(file_) + ";";
}

DbLoginRecord SqliteSuiteDb::DsnLogin() {
    if (dsn_.empty()) {
        dsn_ = "TovrikSqlite" + UniqueSuffix();
        RegisterUserDsn(dsn_, {{"Driver", "SQLite3"}, {"Database", DriverPath(file_)}});
    }
    return DbLoginRecord{dsn_, "", "", ""};
}

PgSuiteDb::PgSuiteDb() : name_("tovrik_t_" + UniqueSuffix()) {
    const PgServer& server = PgServerInfo();
    db::Connection admin;
    admin.Open(PgDriverString(server, server.Database));
    admin.Execute("CREATE DATABASE " + name_ + " TEMPLATE template0 ENCODING 'UTF8'");
}

PgSuiteDb::~PgSuiteDb() {
    try {
        const PgServer& server = PgServerInfo();
        db::Connection admin;
        admin.Open(PgDriverString(server, server.Database));
        admin.Execute("DROP DATABASE IF EXISTS " + name_ + " WITH (FORCE)");
    } catch (const std::exception& error) {
        std::fprintf(stderr, "warning: could not drop test database %s: %s\n", name_.c_str(),
                     error.what());
    }
}

std::string PgSuiteDb::ConnectionString() const { return PgDriverString(PgServerInfo(), name_); }

DbLoginRecord PgSuiteDb::DsnLogin() {
    const PgServer& server = PgServerInfo();
    return DbLoginRecord{server.Dsn, server.User, server.Password, name_};
}

std::unique_ptr<SuiteDb> MakeSuiteDb(Backend backend) {
    if (backend == Backend::Sqlite) return std::make_unique<SqliteSuiteDb>();
    return std::make_unique<PgSuiteDb>();
}

std::string Describe(const db::DbError& error) {
    std::string text = error.what();
    if (error.Records().empty()) return text + "\n  (no diagnostic records)";
    for (const auto& record : error.Records()) {
        text += "\n  [" + record.SqlState + "] native " + std::to_string(record.NativeCode) + ": " +
                record.Message;
    }
    return text;
}

void BackendTest::SetUp() {
    try {
        db_ = MakeSuiteDb(GetParam());
        connection_ = db_->Connect();
    } catch (const db::DbError& error) {
        FAIL() << "Cannot open a " << BackendName(GetParam()) << " test database:\n"
               << Describe(error);
    } catch (const std::exception& error) {
        FAIL() << "Cannot open a " << BackendName(GetParam()) << " test database: " << error.what();
    }
}

void BackendTest::TearDown() {
    connection_.reset();
    db_.reset();
}

std::string BackendTestName(const testing::TestParamInfo<Backend>& info) {
    return BackendName(info.param);
}

#ifdef _WIN32

namespace {

// Sets the text values of a key below HKLM\SOFTWARE\ODBC\ODBC.INI in the registry's 32-bit view.
void SetTexts32(const std::string& below,
                const std::vector<std::pair<std::string, std::string>>& values) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE,
                        Utf8ToWide("SOFTWARE\\ODBC\\ODBC.INI\\" + below).c_str(), 0, nullptr, 0,
                        KEY_WRITE | KEY_WOW64_32KEY, nullptr, &key, nullptr) != ERROR_SUCCESS) {
        throw std::runtime_error("cannot create the 32-bit registry key ODBC.INI\\" + below);
    }
    for (const auto& [name, value] : values) {
        const std::wstring text = Utf8ToWide(value);
        RegSetValueExW(key, Utf8ToWide(name).c_str(), 0, REG_SZ,
                       reinterpret_cast<const BYTE*>(text.c_str()),
                       static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    }
    RegCloseKey(key);
}

}  // namespace

void Register32BitSystemDsn(const std::string& name, const std::string& driver,
                            const std::vector<std::pair<std::string, std::string>>& attributes) {
    SetTexts32("ODBC Data Sources", {{name, driver}});
    SetTexts32(name, attributes);
}

#endif

}  // namespace tovrik::test
