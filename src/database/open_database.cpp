#include "database/open_database.h"

#include <exception>

namespace tovrik {

namespace {

constexpr int kCommandTimeoutSeconds = 180;
constexpr int kLoginTimeoutSeconds = 15;  // the default of the suite's connection object

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// A value goes into the text unchanged unless it would change how the text splits into
// key=value pairs: then it is wrapped in braces with every '}' doubled, as ODBC reads it.
std::string Value(const std::string& value) {
    const bool quote = value.find_first_of(";{}") != std::string::npos ||
                       (!value.empty() && (IsBlank(value.front()) || IsBlank(value.back())));
    if (!quote) return value;
    std::string quoted = "{";
    for (char c : value) {
        quoted += c;
        if (c == '}') quoted += '}';
    }
    quoted += '}';
    return quoted;
}

}  // namespace

std::string BuildConnectionString(const DbLoginRecord& login, bool serverFileMode) {
    std::string text;
    if (serverFileMode) {
        text = "Driver={SQL Server};";
        text += "Server=" + Value(login.Server) + ";";
        text += "UID=" + Value(login.UserId) + ";";
        text += "PWD=" + Value(login.Password) + ";";
        text += "Database=" + Value(login.Database) + ";";
    } else {
        text = "PROVIDER=MSDASQL;";
        text += "DSN=" + Value(login.Server) + ";";
        text += "UID=" + Value(login.UserId) + ";";
        text += "PWD=" + Value(login.Password) + ";";
        if (!login.Database.empty()) text += "Database=" + Value(login.Database) + ";";
    }
    return text;
}

int OpenDatabase(std::unique_ptr<db::Connection>& dbConnection, const DbLoginRecord& dbLogin,
                 bool serverFileMode, MessageBoxes& boxes) {
    const std::string text = BuildConnectionString(dbLogin, serverFileMode);
    try {
        dbConnection = std::make_unique<db::Connection>();
        dbConnection->SetCommandTimeout(kCommandTimeoutSeconds);
        dbConnection->SetLoginTimeout(kLoginTimeoutSeconds);
        dbConnection->Open(text);
        return 0;
    } catch (const db::DbError& error) {
        // Only a failure the driver described gets this box; the caller reports every failure.
        if (!error.Records().empty()) {
            boxes.Show(std::string("データベースに接続できません") + "\n" + error.what(),
                       "DB接続エラー", MessageIcon::Critical);
        }
    } catch (const std::exception&) {
        // No driver was reached (e.g. out of memory): no description to show; status 1 tells.
    }
    if (dbConnection) dbConnection->Close();
    dbConnection.reset();
    return 1;
}

}  // namespace tovrik
