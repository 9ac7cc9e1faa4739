// veldana-reg: the administrator's tool for the console's registry store, with the
// habits of Windows' reg:
//   veldana-reg query  KEY [/v NAME | /ve] [/s]
//   veldana-reg add    KEY [/v NAME | /ve] [/t TYPE] [/d DATA] [/f]
//   veldana-reg delete KEY [/v NAME | /ve | /va] [/f]
//   veldana-reg export FILE [KEY]      (default KEY: HKLM)
//   veldana-reg import FILE
// KEY is HKLM\... or HKEY_LOCAL_MACHINE\...; the store is the one VELDANA_REGISTRY (or
// the installation's defaults) names. Exit status 0 on success, 1 on failure.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "platform/locations.h"
#include "platform/registry.h"
#include "tools/regfile.h"

namespace {

using namespace platform;
using namespace tools;

constexpr const char* kNotFound =
    "ERROR: The system was unable to find the specified registry key or value.";

int Usage() {
    std::fputs(
        "usage: veldana-reg query  KEY [/v NAME | /ve] [/s]\n"
        "       veldana-reg add    KEY [/v NAME | /ve] [/t TYPE] [/d DATA] [/f]\n"
        "       veldana-reg delete KEY [/v NAME | /ve | /va] [/f]\n"
        "       veldana-reg export FILE [KEY]\n"
        "       veldana-reg import FILE\n"
        "KEY is HKLM\\... or HKEY_LOCAL_MACHINE\\...; TYPE is REG_SZ (default), REG_EXPAND_SZ,\n"
        "REG_DWORD, REG_QWORD, REG_BINARY (hex digits) or REG_MULTI_SZ (items split by \\0).\n"
        "The store is $VELDANA_REGISTRY, or <windows dir>/registry.db.\n",
        stderr);
    return 1;
}

// Reports a failed call: a broken store says why, a missing key or value says so.
int Failure(long rc) {
    if (rc == kErrFileNotFound || rc == kErrKeyDeleted) {
        std::fprintf(stderr, "%s\n", kNotFound);
    } else {
        std::string why = RegistryError();
        std::fprintf(stderr, "ERROR: %s\n", why.empty() ? "the registry store failed" : why.c_str());
    }
    return 1;
}

std::string FullName(const std::string& path) {
    return "HKEY_LOCAL_MACHINE" + (path.empty() ? "" : "\\" + path);
}

struct Options {
    std::optional<std::string> value;  // /v NAME, or "" for /ve
    bool allValues = false;            // /va
    bool recurse = false;              // /s
    std::string type = "REG_SZ";
    std::optional<std::string> data;
};

bool ParseOptions(const std::vector<std::string>& args, std::size_t from, Options& o) {
    for (std::size_t i = from; i < args.size(); ++i) {
        std::string a = args[i];
        for (auto& c : a) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        auto next = [&](std::string& out) {
            if (i + 1 >= args.size()) return false;
            out = args[++i];
            return true;
        };
        std::string v;
        if (a == "/v") {
            if (!next(v)) return false;
            o.value = v;
        } else if (a == "/ve") {
            o.value = "";
        } else if (a == "/va") {
            o.allValues = true;
        } else if (a == "/s") {
            o.recurse = true;
        } else if (a == "/t") {
            if (!next(o.type)) return false;
        } else if (a == "/d") {
            if (!next(v)) return false;
            o.data = v;
        } else if (a != "/f") {
            std::fprintf(stderr, "ERROR: Invalid syntax: %s\n", args[i].c_str());
            return false;
        }
    }
    return true;
}

long OpenPath(const std::string& path, RegKey& key) {
    return RegOpenKey(HkeyLocalMachine(), path, key);
}

void PrintValue(const std::string& name, unsigned type, const std::string& data) {
    std::printf("    %s    %s    %s\n", name.empty() ? "(Default)" : name.c_str(),
                TypeName(type).c_str(), FormatValueData(type, data).c_str());
}

long QueryTree(const RegKey& key, const std::string& path, bool recurse) {
    std::printf("\n%s\n", FullName(path).c_str());
    std::string name, data;
    unsigned type = 0;
    long rc;
    for (std::size_t i = 0; (rc = RegEnumValue(key, i, name, type, data)) == kErrSuccess; ++i)
        PrintValue(name, type, data);
    if (rc != kErrNoMoreItems) return rc;
    std::vector<std::string> children;
    for (std::size_t i = 0; (rc = RegEnumKey(key, i, name)) == kErrSuccess; ++i)
        children.push_back(name);
    if (rc != kErrNoMoreItems) return rc;
    if (!recurse) {
        if (!children.empty()) std::printf("\n");
        for (const auto& c : children) std::printf("%s\\%s\n", FullName(path).c_str(), c.c_str());
        return kErrSuccess;
    }
    for (const auto& c : children) {
        RegKey sub;
        if ((rc = RegOpenKey(key, c, sub)) != kErrSuccess) return rc;
        std::string subPath = path.empty() ? c : path + "\\" + c;
        if ((rc = QueryTree(sub, subPath, true)) != kErrSuccess) return rc;
    }
    return kErrSuccess;
}

int Query(const std::string& path, const Options& o) {
    RegKey key;
    if (long rc = OpenPath(path, key)) return Failure(rc);
    if (o.value) {
        unsigned type = 0;
        std::string data;
        if (long rc = RegQueryValue(key, *o.value, type, data, SIZE_MAX)) return Failure(rc);
        std::printf("\n%s\n", FullName(path).c_str());
        PrintValue(*o.value, type, data);
        return 0;
    }
    if (long rc = QueryTree(key, path, o.recurse)) return Failure(rc);
    return 0;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = static_cast<char>(c | 0x20);
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// Turns /d text into the stored bytes of a type.
bool EncodeData(unsigned type, const std::string& text, std::string& out) {
    out.clear();
    if (type == kRegDword || type == kRegQword) {
        int bytes = type == kRegDword ? 4 : 8;
        char* end = nullptr;
        unsigned long long v = std::strtoull(text.c_str(), &end, 0);
        if (text.empty() || *end != '\0' || (bytes == 4 && v > 0xffffffffull)) return false;
        for (int i = 0; i < bytes; ++i) out += static_cast<char>((v >> (8 * i)) & 0xff);
        return true;
    }
    if (type == kRegBinary || type == kRegNone) {
        if (text.size() % 2) return false;
        for (std::size_t i = 0; i < text.size(); i += 2) {
            int hi = HexValue(text[i]), lo = HexValue(text[i + 1]);
            if (hi < 0 || lo < 0) return false;
            out += static_cast<char>(hi * 16 + lo);
        }
        return true;
    }
    if (type == kRegMultiSz) {
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == '0') {
                out += '\0';
                ++i;
            } else {
                out += text[i];
            }
        }
        out += std::string(2, '\0');
        return true;
    }
    out = text;  // REG_SZ: the characters, no terminator
    return true;
}

int Add(const std::string& path, const Options& o) {
    RegKey key;
    if (long rc = RegCreateKey(HkeyLocalMachine(), path, key)) return Failure(rc);
    if (!o.value) {
        std::puts("The operation completed successfully.");
        return 0;
    }
    unsigned type = 0;
    if (!TypeFromName(o.type, type)) {
        std::fprintf(stderr, "ERROR: Invalid type %s\n", o.type.c_str());
        return 1;
    }
    std::string bytes;
    if (!EncodeData(type, o.data.value_or(""), bytes)) {
        std::fprintf(stderr, "ERROR: Invalid data for %s: %s\n", o.type.c_str(),
                     o.data.value_or("").c_str());
        return 1;
    }
    if (long rc = RegSetValue(key, *o.value, type, bytes)) return Failure(rc);
    std::puts("The operation completed successfully.");
    return 0;
}

int Delete(const std::string& path, const Options& o) {
    RegKey key;
    if (long rc = OpenPath(path, key)) return Failure(rc);
    if (o.value) {
        if (long rc = RegDeleteValue(key, *o.value)) return Failure(rc);
    } else if (o.allValues) {
        std::string name, data;
        unsigned type = 0;
        long rc;
        while ((rc = RegEnumValue(key, 0, name, type, data)) == kErrSuccess)
            if ((rc = RegDeleteValue(key, name)) != kErrSuccess) return Failure(rc);
        if (rc != kErrNoMoreItems) return Failure(rc);
    } else if (path.empty()) {
        std::fputs("ERROR: HKEY_LOCAL_MACHINE itself cannot be deleted.\n", stderr);
        return 1;
    } else if (long rc = RegDeleteTree(HkeyLocalMachine(), path)) {
        return Failure(rc);
    }
    std::puts("The operation completed successfully.");
    return 0;
}

int Export(const std::string& file, const std::string& path) {
    RegKey key;
    if (long rc = OpenPath(path, key)) return Failure(rc);
    std::string text, error;
    if (!ExportRegKey(key, path, text, error)) {
        std::fprintf(stderr, "ERROR: %s\n", error.c_str());
        return 1;
    }
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) {
        std::fprintf(stderr, "ERROR: cannot write %s\n", file.c_str());
        return 1;
    }
    std::puts("The operation completed successfully.");
    return 0;
}

int Import(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "ERROR: cannot read %s\n", file.c_str());
        return 1;
    }
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<RegOp> ops;
    std::string error;
    if (!ParseRegFile(text, ops, error)) {
        std::fprintf(stderr, "ERROR: %s: %s\n", file.c_str(), error.c_str());
        return 1;
    }
    if (!ApplyRegOps(ops, error)) {
        std::fprintf(stderr, "ERROR: %s\n", error.c_str());
        return 1;
    }
    std::puts("The operation completed successfully.");
    return 0;
}

bool KeyArgument(const std::string& text, std::string& path) {
    if (SplitRootedKey(text, path)) return true;
    std::fprintf(stderr, "ERROR: Invalid key name: %s (use HKLM\\...)\n", text.c_str());
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() < 2) return Usage();
    std::string op = args[0];
    for (auto& c : op) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));

    if (op == "export") {
        if (args.size() > 3) return Usage();
        std::string file = args[1], keyText = args.size() == 3 ? args[2] : "HKLM";
        // Also accept reg's own order: export KEY FILE.
        std::string probe;
        if (args.size() == 3 && SplitRootedKey(args[1], probe) && !SplitRootedKey(args[2], probe))
            std::swap(file, keyText);
        std::string path;
        if (!KeyArgument(keyText, path)) return 1;
        return Export(file, path);
    }
    if (op == "import") return args.size() == 2 ? Import(args[1]) : Usage();

    std::string path;
    Options o;
    if (op != "query" && op != "add" && op != "delete") return Usage();
    if (!KeyArgument(args[1], path) || !ParseOptions(args, 2, o)) return 1;
    if (op == "query") return Query(path, o);
    if (op == "add") return Add(path, o);
    return Delete(path, o);
}
