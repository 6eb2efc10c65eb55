#include "database/open_database.h"

#include <algorithm>
#include <exception>
#include <optional>

#include "common/ascii.h"
#include "database/driver_list.h"

namespace tovrik {

namespace {

constexpr int kCommandTimeoutSeconds = 180;
constexpr int kLoginTimeoutSeconds = 15;  // the default of the suite's connection object
constexpr bool k64BitProgram = sizeof(void*) == 8;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string Braced(const std::string& value) {
    std::string quoted = "{";
    for (char c : value) {
        quoted += c;
        if (c == '}') quoted += '}';
    }
    quoted += '}';
    return quoted;
}

// A value goes into the text unchanged unless it would change how the text splits into
// key=value pairs: then it is wrapped in braces with every '}' doubled, as ODBC reads it.
std::string Value(const std::string& value) {
    const bool quote = value.find_first_of(";{}") != std::string::npos ||
                       (!value.empty() && (IsBlank(value.front()) || IsBlank(value.back())));
    return quote ? Braced(value) : value;
}

// A keyword that cannot be written unquoted (keywords have no quoting) is left out.
bool UsableKeyword(const std::string& name) {
    return !name.empty() && name.find_first_of("=;{}") == std::string::npos &&
           !IsBlank(name.front()) && !IsBlank(name.back());
}

// The login's keywords of the data-source form, in order; Database only when named.
std::string LoginKeywords(const DbLoginRecord& login) {
    std::string text = "UID=" + Value(login.UserId) + ";";
    text += "PWD=" + Value(login.Password) + ";";
    if (!login.Database.empty()) text += "Database=" + Value(login.Database) + ";";
    return text;
}

void Connect(std::unique_ptr<db::Connection>& dbConnection, const std::string& text) {
    if (dbConnection) dbConnection->Close();
    dbConnection = std::make_unique<db::Connection>();
    dbConnection->SetCommandTimeout(kCommandTimeoutSeconds);
    dbConnection->SetLoginTimeout(kLoginTimeoutSeconds);
    dbConnection->Open(text);
}

// False only when the driver manager lists its drivers and `driver` is not among them.
bool MayBeInstalled(const std::string& driver) {
    const auto installed = db::InstalledDrivers();
    return !installed ||
           std::any_of(installed->begin(), installed->end(), [&](const std::string& name) {
               return EqualsIgnoringAsciiCase(name, driver);
           });
}

std::string OtherBitnessAdvice() {
    return k64BitProgram ? "32 ビット版 (x86) の Tovrik を使ってください"
                         : "64 ビット版 (x64) の Tovrik を使ってください";
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
        text += LoginKeywords(login);
    }
    return text;
}

std::string BuildDefinitionConnectionString(const DbLoginRecord& login,
                                            const DataSourceDefinition& definition) {
    std::string text = "Driver=" + Braced(definition.Driver) + ";";
    for (const auto& [name, value] : definition.Attributes) {
        if (!UsableKeyword(name) || EqualsIgnoringAsciiCase(name, "Driver") ||
            EqualsIgnoringAsciiCase(name, "DSN") || EqualsIgnoringAsciiCase(name, "UID") ||
            EqualsIgnoringAsciiCase(name, "PWD") ||
            (!login.Database.empty() && EqualsIgnoringAsciiCase(name, "Database"))) {
            continue;
        }
        text += name + "=" + Value(value) + ";";
    }
    return text + LoginKeywords(login);
}

int OpenDatabase(std::unique_ptr<db::Connection>& dbConnection, const DbLoginRecord& dbLogin,
                 bool serverFileMode, MessageBoxes& boxes) {
    ConnectionRoute route;
    return OpenDatabase(dbConnection, dbLogin, serverFileMode, boxes, nullptr, route);
}

int OpenDatabase(std::unique_ptr<db::Connection>& dbConnection, const DbLoginRecord& dbLogin,
                 bool serverFileMode, MessageBoxes& boxes, const DataSourceRegistry* dataSources,
                 ConnectionRoute& route) {
    route = {};
    std::optional<db::DbError> failure;
    try {
        Connect(dbConnection, BuildConnectionString(dbLogin, serverFileMode));
        return 0;
    } catch (const db::DbError& error) {
        failure = error;
    } catch (const std::exception&) {
        // No driver was reached (e.g. out of memory): no description to show; status 1 tells.
    }
    const bool sides = failure && dataSources != nullptr && !serverFileMode;
    try {
        if (sides && failure->SqlState() == "IM014") {
            // A data source whose driver exists for the other bitness only.
            route.Advice = "データソース " + dbLogin.Server + " のドライバーは " +
                           (k64BitProgram ? "32" : "64") + " ビット版だけです。" +
                           OtherBitnessAdvice();
        } else if (sides && k64BitProgram && failure->SqlState() == "IM002") {
            // Registered by a 32-bit installer: the 64-bit driver manager never reads that side.
            if (const auto definition = dataSources->Find32BitSystemDataSource(dbLogin.Server)) {
                route.Driver32 = definition->Driver;
                // No driver of that name on this side: Windows' driver manager answers IM002
                // again, unixODBC takes the name for a library path; asked first, both agree.
                bool driverMissing = !MayBeInstalled(definition->Driver);
                if (!driverMissing) {
                    try {
                        Connect(dbConnection,
                                BuildDefinitionConnectionString(dbLogin, *definition));
                        return 0;
                    } catch (const db::DbError& retry) {
                        // Anything but IM002 is the driver's own answer, which the user needs
                        // more than the first one.
                        driverMissing = retry.SqlState() == "IM002";
                        if (!driverMissing) failure = retry;
                    }
                }
                if (driverMissing) {
                    route.Advice = "データソース " + dbLogin.Server +
                                   " は 32 ビット側にだけ登録されていて、そのドライバー " +
                                   definition->Driver + " には 64 ビット版がありません。" +
                                   OtherBitnessAdvice();
                }
            }
        }
    } catch (const std::exception&) {
        // As above: the first failure is the one shown.
    }
    // Only a failure the driver described gets this box; the caller reports every failure.
    if (failure && !failure->Records().empty()) {
        std::string text = std::string("データベースに接続できません") + "\n" + failure->what();
        if (!route.Advice.empty()) text += "\n" + route.Advice;
        boxes.Show(text, "DB接続エラー", MessageIcon::Critical);
    }
    if (dbConnection) dbConnection->Close();
    dbConnection.reset();
    return 1;
}

}  // namespace tovrik
