// SPDX-License-Identifier: MIT
#include "odbc/odbc_line_database.h"

#ifdef _WIN32
#include <windows.h>
#endif
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string_view>
#include <utility>
#include <vector>

// The tables, made by Open() where missing. The SQL is meant to run
// unchanged on PostgreSQL, SQL Server and MySQL: no IF NOT EXISTS (SQL Server
// lacks it; a failed CREATE is followed by a second look instead), no
// generated keys, only VARCHAR and BIGINT. Texts are UTF-8 on the way in; what
// each system needs for that is in the README ("The line's database").
namespace kovra::odbc {
namespace {

static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "ODBC's wide characters are UTF-16 on Windows and unixODBC");

using Kind = DbResult::Kind;

// How long an unreachable server may hold a station up: to connect, and for
// one statement.
constexpr uintptr_t kTimeoutSeconds = 5;
// Leases the server aborted to serialise them against another station's.
constexpr int kLeaseTries = 5;
// next_number may reach last + 1, and the lease's lock adds one more: both
// stay within BIGINT.
constexpr uint64_t kLargestNumber = static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) - 2;
constexpr uint64_t kLargestBigint = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());

// The record's columns after station and seq, in the CSV header's order.
constexpr size_t kRecordFields = 15;
// Every column of a record row, as the reads take them.
const std::string kRecordColumns =
    "SELECT station, seq, time_utc, port, chip, code_file, file_checksum, memory_checksum, steps, result, status, "
    "elapsed_ms, failure, address, serial, job, job_sha256 FROM kovra_record";
constexpr size_t kElapsedField = 9;  // "elapsed s", kept as milliseconds

struct Table {
  const char* name;
  const char* columns;  // what the probe selects: a table that lacks one is not ours
  std::vector<const char*> create;
};

const std::vector<Table>& Tables() {
  static const std::vector<Table> tables = {
      {"kovra_record",
       "station, seq, time_utc, port, chip, code_file, file_checksum, memory_checksum, steps, result, status, "
       "elapsed_ms, failure, address, serial, job, job_sha256",
       {"CREATE TABLE kovra_record (station VARCHAR(100) NOT NULL, seq BIGINT NOT NULL, time_utc VARCHAR(20), "
        "port VARCHAR(200), chip VARCHAR(100), code_file VARCHAR(1000), file_checksum VARCHAR(16), "
        "memory_checksum VARCHAR(16), steps VARCHAR(200), result VARCHAR(10), status VARCHAR(1000), "
        "elapsed_ms BIGINT, failure VARCHAR(100), address VARCHAR(16), serial VARCHAR(200), job VARCHAR(1000), "
        "job_sha256 VARCHAR(64), PRIMARY KEY (station, seq))",
        "CREATE INDEX kovra_record_time ON kovra_record (time_utc)"}},
      {"kovra_serial_series",
       "series, first_number, step, last_number, next_number",
       {"CREATE TABLE kovra_serial_series (series VARCHAR(100) NOT NULL, first_number BIGINT NOT NULL, "
        "step BIGINT NOT NULL, last_number BIGINT NOT NULL, next_number BIGINT NOT NULL, PRIMARY KEY (series))"}},
      {"kovra_serial_block",
       "series, first_number, last_number, station, leased_utc",
       {"CREATE TABLE kovra_serial_block (series VARCHAR(100) NOT NULL, first_number BIGINT NOT NULL, "
        "last_number BIGINT NOT NULL, station VARCHAR(100), leased_utc VARCHAR(20), "
        "PRIMARY KEY (series, first_number))"}},
      {"kovra_serial_spent",
       "series, number, bytes, station, port, spent_utc",
       {"CREATE TABLE kovra_serial_spent (series VARCHAR(100) NOT NULL, number BIGINT NOT NULL, "
        "bytes VARCHAR(200), station VARCHAR(100), port VARCHAR(200), spent_utc VARCHAR(20), "
        "PRIMARY KEY (series, number))",
        "CREATE INDEX kovra_serial_spent_time ON kovra_serial_spent (spent_utc)"}},
  };
  return tables;
}

// UTF-8 to UTF-16; false for bytes that are not UTF-8, which would not come
// back as they went in.
bool ToUtf16(std::string_view text, std::u16string& out) {
  static constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
  out.clear();
  for (size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    char32_t c = 0;
    size_t length = 0;
    if (lead < 0x80) {
      c = lead, length = 1;
    } else if ((lead & 0xE0) == 0xC0) {
      c = lead & 0x1F, length = 2;
    } else if ((lead & 0xF0) == 0xE0) {
      c = lead & 0x0F, length = 3;
    } else if ((lead & 0xF8) == 0xF0) {
      c = lead & 0x07, length = 4;
    } else {
      return false;
    }
    if (text.size() - i < length) return false;
    for (size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      c = (c << 6) | (next & 0x3F);
    }
    if (c < kLeast[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
    if (c >= 0x10000) {
      c -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (c >> 10));
      out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
    i += length;
  }
  return true;
}

// UTF-16 to UTF-8; a lone surrogate becomes U+FFFD.
std::string ToUtf8(std::u16string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::u16string Wide(std::string_view ascii) { return std::u16string(ascii.begin(), ascii.end()); }

SQLWCHAR* Sql(std::u16string& text) { return reinterpret_cast<SQLWCHAR*>(text.data()); }

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return text;
}

std::string Trim(std::string_view text) {
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return {};
  return std::string(text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1));
}

// The connection string's PWD (or Password) value, braces and their "}}"
// taken off: ODBC's "key=value;" or "key={value};" pairs.
std::string PasswordOf(std::string_view connection) {
  std::string password;
  size_t i = 0;
  while (i < connection.size()) {
    const size_t equals = connection.find('=', i);
    if (equals == std::string_view::npos) break;
    const std::string key = Lower(Trim(connection.substr(i, equals - i)));
    size_t j = connection.find_first_not_of(' ', equals + 1);
    std::string value;
    if (j != std::string_view::npos && connection[j] == '{') {
      for (++j; j < connection.size(); ++j) {
        if (connection[j] == '}') {
          if (j + 1 < connection.size() && connection[j + 1] == '}') {
            value += '}';
            ++j;
            continue;
          }
          ++j;
          break;
        }
        value += connection[j];
      }
      j = connection.find(';', j);
    } else {
      j = connection.find(';', equals + 1);
      value = Trim(connection.substr(equals + 1, j == std::string_view::npos ? j : j - equals - 1));
    }
    if (key == "pwd" || key == "password") password = value;
    i = j == std::string_view::npos ? connection.size() : j + 1;
  }
  return password;
}

// "7.366" (the record's seconds, always three decimals) as 7366; nullopt for
// any other form, which would not come back as it went in.
std::optional<int64_t> Milliseconds(std::string_view seconds) {
  const size_t point = seconds.find('.');
  if (point == std::string_view::npos || point == 0 || point > 15 || seconds.size() != point + 4) return std::nullopt;
  if (seconds[0] == '0' && point > 1) return std::nullopt;
  int64_t ms = 0;
  for (size_t i = 0; i < seconds.size(); ++i) {
    if (i == point) continue;
    if (seconds[i] < '0' || seconds[i] > '9') return std::nullopt;
    ms = ms * 10 + (seconds[i] - '0');
  }
  return ms;
}

std::string Seconds(int64_t ms) {
  char text[40];
  const uint64_t magnitude = ms < 0 ? 0 - static_cast<uint64_t>(ms) : static_cast<uint64_t>(ms);
  std::snprintf(text, sizeof text, "%s%llu.%03u", ms < 0 ? "-" : "", static_cast<unsigned long long>(magnitude / 1000),
                static_cast<unsigned>(magnitude % 1000));
  return text;
}

struct Diagnosis {
  std::string state;  // the first record's SQLSTATE
  std::string text;
};

Diagnosis Diagnose(SQLSMALLINT type, SQLHANDLE handle) {
  Diagnosis d;
  for (SQLSMALLINT record = 1; record <= 4; ++record) {
    SQLWCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLWCHAR text[1024] = {};
    SQLSMALLINT length = 0;
    if (!SQL_SUCCEEDED(SQLGetDiagRecW(type, handle, record, state, &native, text, 1024, &length))) break;
    // A warning (class 01) goes before the error it comes with; the error's state is the one that tells.
    if (d.state.empty() || d.state.starts_with("01")) {
      d.state = ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(state), 5));
    }
    const auto shown = static_cast<size_t>(std::clamp<SQLSMALLINT>(length, 0, 1023));
    std::string words = Trim(ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(text), shown)));
    // One line for the operator's log: the driver's line ends and tabs as spaces.
    std::replace_if(
        words.begin(), words.end(), [](char c) { return c == '\n' || c == '\r' || c == '\t'; }, ' ');
    if (!words.empty() && words.back() == ';') words.pop_back();
    if (words.empty() || d.text.find(words) != std::string::npos) continue;
    if (!d.text.empty()) d.text += "; ";
    d.text += words;
  }
  return d;
}

// The connection is gone, or the server did not answer in time: try again
// later. PostgreSQL's driver reports a query's timeout as 57014 (the server
// cancelled it), not HYT00.
bool UnreachableState(const std::string& state) {
  return state.starts_with("08") || state == "HYT00" || state == "HYT01" || state.starts_with("57P0") ||
         state == "57014";
}

// One statement: its parameters in the order of its '?', run, then rows.
class Statement {
 public:
  explicit Statement(SQLHDBC dbc) {
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &handle_))) {
      handle_ = SQL_NULL_HSTMT;
      return;
    }
    SQLSetStmtAttrW(handle_, SQL_ATTR_QUERY_TIMEOUT, reinterpret_cast<SQLPOINTER>(kTimeoutSeconds), 0);
  }
  ~Statement() {
    if (handle_ != SQL_NULL_HSTMT) SQLFreeHandle(SQL_HANDLE_STMT, handle_);
  }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  SQLHSTMT handle() const { return handle_; }
  // A text that is not UTF-8 leaves the statement unrun.
  bool textsValid() const { return textsValid_; }

  void Text(std::string_view utf8) {
    Parameter& p = params_.emplace_back();
    p.text = true;
    if (!ToUtf16(utf8, p.chars)) textsValid_ = false;
    p.indicator = static_cast<SQLLEN>(p.chars.size() * sizeof(char16_t));
  }
  void Number(std::optional<int64_t> value) {
    Parameter& p = params_.emplace_back();
    p.number = value.value_or(0);
    p.indicator = value ? 0 : SQL_NULL_DATA;
  }

  // False when it failed; an UPDATE that matched nothing succeeds.
  bool Run(std::string_view sql) {
    if (handle_ == SQL_NULL_HSTMT) return false;
    for (size_t i = 0; i < params_.size(); ++i) {
      Parameter& p = params_[i];
      const auto number = static_cast<SQLUSMALLINT>(i + 1);
      const SQLRETURN r =
          p.text ? SQLBindParameter(handle_, number, SQL_PARAM_INPUT, SQL_C_WCHAR, SQL_WVARCHAR,
                                    std::max<SQLULEN>(p.chars.size(), 1), 0, Sql(p.chars), p.indicator, &p.indicator)
                 : SQLBindParameter(handle_, number, SQL_PARAM_INPUT, SQL_C_SBIGINT, SQL_BIGINT, 0, 0, &p.number, 0,
                                    &p.indicator);
      if (!SQL_SUCCEEDED(r)) return false;
    }
    std::u16string text = Wide(sql);
    const SQLRETURN r = SQLExecDirectW(handle_, Sql(text), static_cast<SQLINTEGER>(text.size()));
    return SQL_SUCCEEDED(r) || r == SQL_NO_DATA;
  }

  // Moves to the next row: false at the end, and with `failed` set when it
  // could not.
  bool Fetch(bool& failed) {
    const SQLRETURN r = SQLFetch(handle_);
    failed = !SQL_SUCCEEDED(r) && r != SQL_NO_DATA;
    return SQL_SUCCEEDED(r);
  }

  // Column `column` (from 1) of the row; NULL reads as empty.
  bool TextAt(SQLUSMALLINT column, std::string& out) {
    std::u16string text;
    SQLWCHAR buffer[512];
    for (;;) {
      SQLLEN indicator = 0;
      const SQLRETURN r = SQLGetData(handle_, column, SQL_C_WCHAR, buffer, sizeof buffer, &indicator);
      if (r == SQL_NO_DATA || (SQL_SUCCEEDED(r) && indicator == SQL_NULL_DATA)) break;
      if (!SQL_SUCCEEDED(r)) return false;
      // Cut short, the buffer holds as much as fits before its terminator.
      const size_t whole = sizeof buffer / sizeof buffer[0] - 1;
      const size_t chars =
          indicator == SQL_NO_TOTAL || indicator / static_cast<SQLLEN>(sizeof(SQLWCHAR)) > static_cast<SQLLEN>(whole)
              ? whole
              : static_cast<size_t>(indicator) / sizeof(SQLWCHAR);
      text.append(reinterpret_cast<const char16_t*>(buffer), chars);
      if (r == SQL_SUCCESS) break;
    }
    out = ToUtf8(text);
    return true;
  }
  bool NumberAt(SQLUSMALLINT column, std::optional<int64_t>& out) {
    SQLBIGINT value = 0;
    SQLLEN indicator = 0;
    if (!SQL_SUCCEEDED(SQLGetData(handle_, column, SQL_C_SBIGINT, &value, 0, &indicator))) return false;
    out = indicator == SQL_NULL_DATA ? std::nullopt : std::optional<int64_t>(value);
    return true;
  }

 private:
  struct Parameter {
    bool text = false;
    std::u16string chars{};
    SQLBIGINT number = 0;
    SQLLEN indicator = 0;
  };
  SQLHSTMT handle_ = SQL_NULL_HSTMT;
  std::vector<Parameter> params_;
  bool textsValid_ = true;
};

DbResult Refused(std::string message) { return {Kind::kRefused, std::move(message)}; }
DbResult Done() { return {}; }

}  // namespace

struct OdbcLineDatabase::Connection {
  std::string password;
  SQLHENV env = SQL_NULL_HENV;
  SQLHDBC dbc = SQL_NULL_HDBC;
  bool connected = false;
  // Set on a failure that broke the connection; it is dropped once the call
  // ends, when no statement of it is left to free.
  bool broken = false;
  std::string lastState;  // of the last failure, for the lease's retries

  ~Connection() {
    Drop();
    if (env != SQL_NULL_HENV) SQLFreeHandle(SQL_HANDLE_ENV, env);
  }

  std::string Hide(std::string text) const {
    if (password.empty()) return text;
    for (size_t at = text.find(password); at != std::string::npos; at = text.find(password, at + 3))
      text.replace(at, password.size(), "***");
    return text;
  }

  void Drop() {
    broken = false;
    if (dbc == SQL_NULL_HDBC) return;
    if (connected) {
      // A transaction left open makes the driver refuse to disconnect.
      SQLEndTran(SQL_HANDLE_DBC, dbc, SQL_ROLLBACK);
      SQLDisconnect(dbc);
    }
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    dbc = SQL_NULL_HDBC;
    connected = false;
  }

  DbResult Finish(DbResult result) {
    if (broken) Drop();
    return result;
  }

  bool Dead() {
    SQLUINTEGER dead = SQL_CD_FALSE;
    return SQL_SUCCEEDED(SQLGetConnectAttrW(dbc, SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr)) && dead == SQL_CD_TRUE;
  }

  DbResult Unreachable(std::string message) {
    broken = true;
    return {Kind::kUnreachable, Hide(std::move(message))};
  }

  // What a failed call on `handle` comes to; the transaction is rolled back,
  // and a broken connection dropped. `insert`: a duplicate key means the row
  // is there already.
  DbResult Fail(SQLSMALLINT type, SQLHANDLE handle, bool insert) {
    const Diagnosis d = handle == SQL_NULL_HANDLE ? Diagnosis{} : Diagnose(type, handle);
    lastState = d.state;
    std::string message = d.state.empty() ? "the ODBC call failed without a diagnosis" : d.state + ": " + d.text;
    if (!connected || UnreachableState(d.state) || Dead()) return Unreachable(std::move(message));
    if (!SQL_SUCCEEDED(SQLEndTran(SQL_HANDLE_DBC, dbc, SQL_ROLLBACK))) return Unreachable(std::move(message));
    const Kind kind = insert && d.state.starts_with("23") ? Kind::kAlreadyThere : Kind::kRefused;
    return {kind, Hide(std::move(message))};
  }
  DbResult Fail(const Statement& st, bool insert = false) { return Fail(SQL_HANDLE_STMT, st.handle(), insert); }

  DbResult End(SQLSMALLINT completion) {
    if (!SQL_SUCCEEDED(SQLEndTran(SQL_HANDLE_DBC, dbc, completion))) return Fail(SQL_HANDLE_DBC, dbc, false);
    return Done();
  }
  DbResult Commit() { return End(SQL_COMMIT); }

  // Runs `st`; a text that is not UTF-8 is refused before the server sees it.
  DbResult Run(Statement& st, std::string_view sql, bool insert = false) {
    if (!st.textsValid()) {
      SQLEndTran(SQL_HANDLE_DBC, dbc, SQL_ROLLBACK);
      return Refused("a text is not UTF-8");
    }
    if (!st.Run(sql)) return Fail(st, insert);
    return Done();
  }

  DbResult Connect(const std::string& connection) {
    if (env == SQL_NULL_HENV) {
      if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env))) {
        env = SQL_NULL_HENV;
        return Unreachable("no ODBC driver manager");
      }
      SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    }
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc))) {
      dbc = SQL_NULL_HDBC;
      return Unreachable("the ODBC driver manager has no connection to give");
    }
    // Not every driver knows both; those that do keep a dead server from
    // holding the station up.
    SQLSetConnectAttrW(dbc, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(kTimeoutSeconds), 0);
    SQLSetConnectAttrW(dbc, SQL_ATTR_CONNECTION_TIMEOUT, reinterpret_cast<SQLPOINTER>(kTimeoutSeconds), 0);
    std::u16string text;
    if (!ToUtf16(connection, text)) return Refused("the connection string is not UTF-8");
    SQLSMALLINT length = 0;
    const SQLRETURN reached = SQLDriverConnectW(dbc, nullptr, Sql(text), static_cast<SQLSMALLINT>(text.size()), nullptr,
                                                0, &length, SQL_DRIVER_NOPROMPT);
    if (!SQL_SUCCEEDED(reached)) {
      const Diagnosis d = Diagnose(SQL_HANDLE_DBC, dbc);
      std::string message = d.state.empty() ? "could not connect" : d.state + ": " + d.text;
      // No such data source or driver (unixODBC tells a driver it cannot
      // load only as a warning), or credentials refused: waiting will not
      // mend it.
      if (d.state.starts_with("IM") || d.state.starts_with("01") || d.state.starts_with("28")) {
        return Refused(std::move(message));
      }
      return Unreachable(std::move(message));
    }
    connected = true;
    DbResult r =
        SQL_SUCCEEDED(SQLSetConnectAttrW(dbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0))
            ? MakeTables()
            : Fail(SQL_HANDLE_DBC, dbc, false);
    // Kept, the connection would let the next Open pass without its tables.
    if (r.kind != Kind::kDone) broken = true;
    return r;
  }

  DbResult Probe(const Table& table) {
    Statement st(dbc);
    if (DbResult r = Run(st, std::string("SELECT ") + table.columns + " FROM " + table.name + " WHERE 1=0");
        r.kind != Kind::kDone)
      return r;
    return Commit();
  }

  // Each table missing is made; when that fails, another station may just
  // have made it, and a second look tells.
  DbResult MakeTables() {
    for (const Table& table : Tables()) {
      DbResult r = Probe(table);
      if (r.kind == Kind::kDone) continue;
      if (r.kind == Kind::kUnreachable) return r;
      for (const char* sql : table.create) {
        Statement st(dbc);
        r = Run(st, sql);
        if (r.kind != Kind::kDone) break;
      }
      if (r.kind == Kind::kDone) r = Commit();
      if (r.kind == Kind::kDone) continue;
      if (r.kind == Kind::kUnreachable) return r;
      if (Probe(table).kind != Kind::kDone) return r;
    }
    return Done();
  }

  DbResult InsertRecord(const StoredRecord& record) {
    if (record.fields.size() != kRecordFields)
      return Refused("a record has " + std::to_string(kRecordFields) + " fields, not " +
                     std::to_string(record.fields.size()));
    if (record.sequence > kLargestBigint) return Refused("the sequence number is beyond BIGINT");
    std::optional<int64_t> elapsed;
    if (!record.fields[kElapsedField].empty()) {
      elapsed = Milliseconds(record.fields[kElapsedField]);
      if (!elapsed) return Refused("elapsed s \"" + record.fields[kElapsedField] + "\" is not seconds like 7.366");
    }
    Statement st(dbc);
    st.Text(record.station);
    st.Number(static_cast<int64_t>(record.sequence));
    for (size_t i = 0; i < kRecordFields; ++i) {
      if (i == kElapsedField)
        st.Number(elapsed);
      else
        st.Text(record.fields[i]);
    }
    DbResult r = Run(st,
                     "INSERT INTO kovra_record (station, seq, time_utc, port, chip, code_file, file_checksum, "
                     "memory_checksum, steps, result, status, elapsed_ms, failure, address, serial, job, job_sha256) "
                     "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
                     true);
    if (r.kind == Kind::kAlreadyThere) return SameRowThere(record, elapsed);
    if (r.kind != Kind::kDone) return r;
    return Commit();
  }

  // A retry of a row that went in finds itself; another row under the same
  // key (a second journal for one station) must not pass for this one.
  DbResult SameRowThere(const StoredRecord& record, std::optional<int64_t> elapsed) {
    Statement st(dbc);
    st.Text(record.station);
    st.Number(static_cast<int64_t>(record.sequence));
    std::vector<StoredRecord> rows;
    if (DbResult r = ReadRecords(st, std::string(kRecordColumns) + " WHERE station = ? AND seq = ?", rows);
        r.kind != Kind::kDone)
      return r;
    std::vector<std::string> mine = record.fields;
    mine[kElapsedField] = elapsed ? Seconds(*elapsed) : "";
    if (rows.size() == 1 && rows[0].fields == mine) return {Kind::kAlreadyThere, ""};
    return Refused("the database holds another row as station " + record.station + "'s row " +
                   std::to_string(record.sequence) + ": does a second journal write as this station?");
  }

  DbResult LastSequence(const std::string& station, uint64_t& last) {
    Statement st(dbc);
    st.Text(station);
    if (DbResult r = Run(st, "SELECT MAX(seq) FROM kovra_record WHERE station = ?"); r.kind != Kind::kDone) return r;
    bool failed = false;
    std::optional<int64_t> highest;
    if (st.Fetch(failed) && !st.NumberAt(1, highest)) failed = true;
    if (failed) return Fail(st);
    last = static_cast<uint64_t>(highest.value_or(0));
    return Commit();
  }

  DbResult InsertSpent(const SpentSerial& spent) {
    if (spent.number > kLargestBigint) return Refused("the serial number is beyond BIGINT");
    Statement st(dbc);
    st.Text(spent.series);
    st.Number(static_cast<int64_t>(spent.number));
    st.Text(spent.bytes);
    st.Text(spent.station);
    st.Text(spent.port);
    st.Text(spent.timeUtc);
    if (DbResult r = Run(st,
                         "INSERT INTO kovra_serial_spent (series, number, bytes, station, port, spent_utc) "
                         "VALUES (?, ?, ?, ?, ?, ?)",
                         true);
        r.kind != Kind::kDone)
      return r;
    return Commit();
  }

  // The series' row, made by the first station that names it. In a
  // transaction of its own: PostgreSQL aborts a whole transaction on a
  // duplicate key, and two stations may make it at once.
  DbResult EnsureSeries(const SerialSeries& series) {
    bool found = false;
    {
      Statement st(dbc);
      st.Text(series.name);
      if (DbResult r = Run(st, "SELECT step FROM kovra_serial_series WHERE series = ?"); r.kind != Kind::kDone)
        return r;
      bool failed = false;
      found = st.Fetch(failed);
      if (failed) return Fail(st);
    }
    if (DbResult r = Commit(); r.kind != Kind::kDone || found) return r;
    Statement st(dbc);
    st.Text(series.name);
    st.Number(static_cast<int64_t>(series.first));
    st.Number(static_cast<int64_t>(series.step));
    st.Number(static_cast<int64_t>(series.last));
    st.Number(static_cast<int64_t>(series.first));
    DbResult r = Run(st,
                     "INSERT INTO kovra_serial_series (series, first_number, step, last_number, next_number) "
                     "VALUES (?, ?, ?, ?, ?)",
                     true);
    if (r.kind == Kind::kAlreadyThere) return Done();
    if (r.kind != Kind::kDone) return r;
    return Commit();
  }

  DbResult LeaseOnce(const SerialSeries& series, uint64_t count, const std::string& station, const std::string& timeUtc,
                     std::optional<SerialBlock>& block) {
    // The row lock serialises the stations. A real change, not a no-op
    // update, so that the SELECT below reads this transaction's own row on
    // every system (MySQL's repeatable read included).
    {
      Statement st(dbc);
      st.Text(series.name);
      if (DbResult r = Run(st, "UPDATE kovra_serial_series SET next_number = next_number + 1 WHERE series = ?");
          r.kind != Kind::kDone)
        return r;
    }
    std::optional<int64_t> first, step, last, next;
    {
      Statement st(dbc);
      st.Text(series.name);
      if (DbResult r = Run(st,
                           "SELECT first_number, step, last_number, next_number FROM kovra_serial_series "
                           "WHERE series = ?");
          r.kind != Kind::kDone)
        return r;
      bool failed = false;
      if (!st.Fetch(failed)) {
        if (failed) return Fail(st);
        End(SQL_ROLLBACK);
        return Refused("the series " + series.name + " has no row in kovra_serial_series");
      }
      if (!st.NumberAt(1, first) || !st.NumberAt(2, step) || !st.NumberAt(3, last) || !st.NumberAt(4, next))
        return Fail(st);
    }
    const auto same = [](std::optional<int64_t> stored, uint64_t named) {
      return stored && *stored >= 0 && static_cast<uint64_t>(*stored) == named;
    };
    if (!same(first, series.first) || !same(step, series.step) || !same(last, series.last)) {
      End(SQL_ROLLBACK);
      // Two definitions of one series would hand out numbers twice.
      return Refused("the series " + series.name + " is " + std::to_string(first.value_or(0)) + " step " +
                     std::to_string(step.value_or(0)) + " to " + std::to_string(last.value_or(0)) +
                     " in the database, not " + std::to_string(series.first) + " step " + std::to_string(series.step) +
                     " to " + std::to_string(series.last));
    }
    if (!next || *next < 1 || static_cast<uint64_t>(*next) - 1 < series.first) {
      End(SQL_ROLLBACK);
      return Refused("the series " + series.name + " has a next number before its first");
    }
    const uint64_t from = static_cast<uint64_t>(*next) - 1;
    if (from > series.last) {
      block.reset();
      return End(SQL_ROLLBACK);
    }
    const uint64_t left = (series.last - from) / series.step + 1;
    const uint64_t taken = std::min(count, left);
    const SerialBlock leased{from, from + (taken - 1) * series.step};
    // Past the end, next_number stays at last + 1.
    const uint64_t after = taken == left ? series.last + 1 : leased.last + series.step;
    {
      Statement st(dbc);
      st.Number(static_cast<int64_t>(after));
      st.Text(series.name);
      if (DbResult r = Run(st, "UPDATE kovra_serial_series SET next_number = ? WHERE series = ?");
          r.kind != Kind::kDone)
        return r;
    }
    {
      Statement st(dbc);
      st.Text(series.name);
      st.Number(static_cast<int64_t>(leased.first));
      st.Number(static_cast<int64_t>(leased.last));
      st.Text(station);
      st.Text(timeUtc);
      if (DbResult r = Run(st,
                           "INSERT INTO kovra_serial_block (series, first_number, last_number, station, leased_utc) "
                           "VALUES (?, ?, ?, ?, ?)");
          r.kind != Kind::kDone)
        return r;
    }
    if (DbResult r = Commit(); r.kind != Kind::kDone) return r;
    block = leased;
    return Done();
  }

  DbResult LeaseBlock(const SerialSeries& series, uint64_t count, const std::string& station,
                      const std::string& timeUtc, std::optional<SerialBlock>& block) {
    block.reset();
    if (count == 0 || series.step == 0) return Refused("a lease needs a count and a step of at least 1");
    if (series.first > kLargestNumber || series.last > kLargestNumber || series.step > kLargestNumber)
      return Refused("the series " + series.name + " goes beyond BIGINT");
    if (DbResult r = EnsureSeries(series); r.kind != Kind::kDone) return r;
    for (int attempt = 1;; ++attempt) {
      DbResult r = LeaseOnce(series, count, station, timeUtc, block);
      const bool serialised = r.kind == Kind::kRefused && (lastState == "40001" || lastState == "40P01");
      if (!serialised || attempt == kLeaseTries) return r;
      lastState.clear();
    }
  }

  // The WHERE of a window of `column`, its parameters added to `st`.
  static std::string Window(const RecordQuery& query, const char* column, Statement& st) {
    std::string where = " WHERE 1=1";
    if (!query.from.empty()) {
      where += std::string(" AND ") + column + " >= ?";
      st.Text(query.from);
    }
    if (!query.to.empty()) {
      where += std::string(" AND ") + column + " < ?";
      st.Text(query.to);
    }
    if (!query.station.empty()) {
      where += " AND station = ?";
      st.Text(query.station);
    }
    return where;
  }

  DbResult Records(const RecordQuery& query, std::vector<StoredRecord>& rows) {
    Statement st(dbc);
    const std::string where = Window(query, "time_utc", st);
    return ReadRecords(st, kRecordColumns + where + " ORDER BY station, seq", rows);
  }

  // The rows a SELECT of kRecordColumns finds.
  DbResult ReadRecords(Statement& st, const std::string& sql, std::vector<StoredRecord>& rows) {
    rows.clear();
    if (DbResult r = Run(st, sql); r.kind != Kind::kDone) return r;
    bool failed = false;
    while (st.Fetch(failed)) {
      StoredRecord& row = rows.emplace_back();
      std::optional<int64_t> seq;
      bool read = st.TextAt(1, row.station) && st.NumberAt(2, seq);
      row.sequence = static_cast<uint64_t>(seq.value_or(0));
      row.fields.resize(kRecordFields);
      for (size_t i = 0; read && i < kRecordFields; ++i) {
        const auto column = static_cast<SQLUSMALLINT>(i + 3);
        if (i != kElapsedField) {
          read = st.TextAt(column, row.fields[i]);
          continue;
        }
        std::optional<int64_t> ms;
        read = st.NumberAt(column, ms);
        if (ms) row.fields[i] = Seconds(*ms);
      }
      if (!read) failed = true;
      if (failed) break;
    }
    if (failed) {
      rows.clear();
      return Fail(st);
    }
    return Commit();
  }

  DbResult Spent(const RecordQuery& query, std::vector<SpentSerial>& spent) {
    spent.clear();
    Statement st(dbc);
    const std::string sql = "SELECT series, number, bytes, station, port, spent_utc FROM kovra_serial_spent" +
                            Window(query, "spent_utc", st) + " ORDER BY series, number";
    if (DbResult r = Run(st, sql); r.kind != Kind::kDone) return r;
    bool failed = false;
    while (st.Fetch(failed)) {
      SpentSerial& row = spent.emplace_back();
      std::optional<int64_t> number;
      if (!st.TextAt(1, row.series) || !st.NumberAt(2, number) || !st.TextAt(3, row.bytes) ||
          !st.TextAt(4, row.station) || !st.TextAt(5, row.port) || !st.TextAt(6, row.timeUtc)) {
        failed = true;
        break;
      }
      row.number = static_cast<uint64_t>(number.value_or(0));
    }
    if (failed) {
      spent.clear();
      return Fail(st);
    }
    return Commit();
  }
};

OdbcLineDatabase::OdbcLineDatabase(std::string connection)
    : connection_(std::move(connection)), db_(std::make_unique<Connection>()) {
  db_->password = PasswordOf(connection_);
}

OdbcLineDatabase::~OdbcLineDatabase() = default;

DbResult OdbcLineDatabase::Open() {
  if (db_->connected && !db_->Dead()) return Done();
  db_->Drop();
  return db_->Finish(db_->Connect(connection_));
}

void OdbcLineDatabase::Close() { db_->Drop(); }

namespace {
DbResult NotConnected() { return {Kind::kUnreachable, "not connected to the line's database"}; }
}  // namespace

DbResult OdbcLineDatabase::InsertRecord(const StoredRecord& record) {
  return db_->connected ? db_->Finish(db_->InsertRecord(record)) : NotConnected();
}

DbResult OdbcLineDatabase::InsertSpent(const SpentSerial& spent) {
  return db_->connected ? db_->Finish(db_->InsertSpent(spent)) : NotConnected();
}

DbResult OdbcLineDatabase::LeaseBlock(const SerialSeries& series, uint64_t count, const std::string& station,
                                      const std::string& timeUtc, std::optional<SerialBlock>& block) {
  block.reset();
  return db_->connected ? db_->Finish(db_->LeaseBlock(series, count, station, timeUtc, block)) : NotConnected();
}

DbResult OdbcLineDatabase::Records(const RecordQuery& query, std::vector<StoredRecord>& rows) {
  rows.clear();
  return db_->connected ? db_->Finish(db_->Records(query, rows)) : NotConnected();
}

DbResult OdbcLineDatabase::LastSequence(const std::string& station, uint64_t& last) {
  last = 0;
  return db_->connected ? db_->Finish(db_->LastSequence(station, last)) : NotConnected();
}

DbResult OdbcLineDatabase::Spent(const RecordQuery& query, std::vector<SpentSerial>& spent) {
  spent.clear();
  return db_->connected ? db_->Finish(db_->Spent(query, spent)) : NotConnected();
}

}  // namespace kovra::odbc
