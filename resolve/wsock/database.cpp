// Byte order and address texts, and the database entries: host names through the system
// resolver (IPv4), services and protocols from the system's tables. Results point into
// storage of the calling thread that stays valid until that thread's next call of the
// same kind, as on Windows.
#include <cctype>
#include <cstddef>
#include <cstring>

#include "resolve/winsock.h"
#include "resolve/wsock/api.h"
#include "resolve/wsock/posix.h"
#include "resolve/wsock/runtime.h"

namespace wsock {
namespace {

constexpr int kMaxAddresses = 35;  // what Windows returns at most
constexpr int kMaxAliases = 16;

// All per-thread storage is plain data without a destructor (see runtime.cpp).
struct HostStorage {
    ws::hostent entry;
    char name[256];
    char* aliases[1];
    char* addressList[kMaxAddresses + 1];
    ws::in_addr addresses[kMaxAddresses];
};
struct ServiceStorage {
    ws::servent entry;
    sys::NamedEntry data;
    char* aliases[kMaxAliases + 1];
};
struct ProtocolStorage {
    ws::protoent entry;
    sys::NamedEntry data;
    char* aliases[kMaxAliases + 1];
};
thread_local HostStorage hostStorage;
thread_local ServiceStorage serviceStorage;
thread_local ProtocolStorage protocolStorage;
thread_local char addressText[16];

// Sets the last error; a null entry.
std::nullptr_t NoEntry(int wsaError) {
    Fail(wsaError);
    return nullptr;
}

int LookupError(int failure) {
    switch (failure) {
        case sys::kHostNotFound:
            return ws::WSAHOST_NOT_FOUND;
        case sys::kTryAgain:
            return ws::WSATRY_AGAIN;
        case sys::kNoData:
            return ws::WSANO_DATA;
        default:
            return ws::WSANO_RECOVERY;
    }
}

ws::hostent* FillHost(const char* name, const std::uint32_t* addresses, int count) {
    HostStorage& h = hostStorage;
    std::size_t n = strnlen(name, sizeof h.name - 1);
    std::memcpy(h.name, name, n);
    h.name[n] = '\0';
    h.aliases[0] = nullptr;
    for (int i = 0; i < count; ++i) {
        h.addresses[i].s_addr = addresses[i];
        h.addressList[i] = reinterpret_cast<char*>(&h.addresses[i]);
    }
    h.addressList[count] = nullptr;
    h.entry.h_name = h.name;
    h.entry.h_aliases = h.aliases;
    h.entry.h_addrtype = static_cast<short>(ws::AF_INET);
    h.entry.h_length = 4;
    h.entry.h_addr_list = h.addressList;
    return &h.entry;
}

// Points `list` (kMaxAliases + 1 slots) at the packed aliases of `data`.
char** AliasList(sys::NamedEntry& data, char** list) {
    char* p = data.aliases;
    int n = 0;
    for (; n < data.aliasCount && n < kMaxAliases; ++n) {
        list[n] = p;
        p += std::strlen(p) + 1;
    }
    list[n] = nullptr;
    return list;
}

ws::servent* FillService() {
    ServiceStorage& s = serviceStorage;
    s.entry.s_name = s.data.name;
    s.entry.s_aliases = AliasList(s.data, s.aliases);
    s.entry.s_port = static_cast<short>(s.data.number);  // network order already
    s.entry.s_proto = s.data.proto;
    return &s.entry;
}

ws::protoent* FillProtocol() {
    ProtocolStorage& p = protocolStorage;
    p.entry.p_name = p.data.name;
    p.entry.p_aliases = AliasList(p.data, p.aliases);
    p.entry.p_proto = static_cast<short>(p.data.number);
    return &p.entry;
}

// One number of a dotted address in C notation (decimal, 0 octal, 0x hexadecimal).
bool ParsePart(const char*& p, std::uint64_t& value) {
    if (!std::isdigit(static_cast<unsigned char>(*p))) return false;
    unsigned base = 10;
    if (*p == '0') {
        base = 8;
        ++p;
        if (*p == 'x' || *p == 'X') {
            base = 16;
            ++p;
        }
    }
    value = 0;
    for (;; ++p) {
        unsigned char c = static_cast<unsigned char>(*p);
        unsigned digit;
        if (std::isdigit(c)) {
            digit = c - '0';
        } else if (base == 16 && std::isxdigit(c)) {
            digit = static_cast<unsigned>(std::tolower(c) - 'a' + 10);
        } else {
            break;
        }
        if (digit >= base) return false;
        value = value * base + digit;
        if (value > 0xffffffffu) return false;
    }
    return true;
}

}  // namespace

// --- byte order (the same on both ways)

ws::u_long HostToNetLong(ws::u_long v) {
    const unsigned char b[4] = {static_cast<unsigned char>(v >> 24),
                                static_cast<unsigned char>(v >> 16),
                                static_cast<unsigned char>(v >> 8), static_cast<unsigned char>(v)};
    ws::u_long r;
    std::memcpy(&r, b, sizeof r);
    return r;
}

ws::u_short HostToNetShort(ws::u_short v) {
    const unsigned char b[2] = {static_cast<unsigned char>(v >> 8), static_cast<unsigned char>(v)};
    ws::u_short r;
    std::memcpy(&r, b, sizeof r);
    return r;
}

// --- address texts

// "a.b.c.d", and the shorter forms "a.b.c" (c: 16 bits), "a.b" (b: 24 bits) and "a" (32
// bits), each number in C notation; blanks may follow. INADDR_NONE for anything else.
ws::u_long InetAddr(const char* cp) {
    if (cp == nullptr) return ws::INADDR_NONE;
    std::uint64_t parts[4];
    int n = 0;
    const char* p = cp;
    for (;;) {
        if (!ParsePart(p, parts[n])) return ws::INADDR_NONE;
        ++n;
        if (*p != '.') break;
        if (n == 4) return ws::INADDR_NONE;
        ++p;
    }
    while (*p != '\0' && std::isspace(static_cast<unsigned char>(*p))) ++p;
    if (*p != '\0') return ws::INADDR_NONE;
    std::uint64_t value = 0;
    for (int i = 0; i < n - 1; ++i) {
        if (parts[i] > 0xff) return ws::INADDR_NONE;
        value |= parts[i] << (24 - 8 * i);
    }
    if (parts[n - 1] > (0xffffffffu >> (8 * (n - 1)))) return ws::INADDR_NONE;
    value |= parts[n - 1];
    return HostToNetLong(static_cast<ws::u_long>(value));
}

char* InetNtoa(ws::in_addr in) {
    unsigned char b[4];
    std::memcpy(b, &in.s_addr, sizeof b);
    char* out = addressText;
    for (int i = 0; i < 4; ++i) {
        unsigned v = b[i];
        if (v >= 100) *out++ = static_cast<char>('0' + v / 100);
        if (v >= 10) *out++ = static_cast<char>('0' + v / 10 % 10);
        *out++ = static_cast<char>('0' + v % 10);
        *out++ = i < 3 ? '.' : '\0';
    }
    return addressText;
}

// --- database entries

ws::hostent* GetHostByName(const char* name) {
    if (int e = CallAllowed()) return NoEntry(e);
    if (name == nullptr) return NoEntry(ws::WSAEFAULT);
    char local[256];
    if (*name == '\0') {  // the empty name is this host, as on Windows
        if (sys::HostName(local, sizeof local) < 0) return NoEntry(ws::WSANO_RECOVERY);
        name = local;
    }
    std::uint32_t addresses[kMaxAddresses];
    char canonical[256];
    int n = sys::ResolveName(name, addresses, kMaxAddresses, canonical, sizeof canonical);
    if (n < 0) return NoEntry(LookupError(n));
    return FillHost(canonical, addresses, n);
}

ws::hostent* GetHostByAddr(const char* addr, int len, int type) {
    if (int e = CallAllowed()) return NoEntry(e);
    if (addr == nullptr || len != 4) return NoEntry(ws::WSAEFAULT);
    if (type != ws::AF_INET) return NoEntry(ws::WSAEAFNOSUPPORT);
    std::uint32_t address;
    std::memcpy(&address, addr, sizeof address);
    char name[256];
    int rc = sys::ResolveAddress(address, name, sizeof name);
    if (rc < 0) return NoEntry(LookupError(rc));
    return FillHost(name, &address, 1);
}

int GetHostName(char* name, int namelen) {
    if (int e = CallAllowed()) return Fail(e);
    if (name == nullptr || namelen <= 0) return Fail(ws::WSAEFAULT);
    char local[256];
    if (sys::HostName(local, sizeof local) < 0) return Fail(ws::WSAENETDOWN);
    if (std::strlen(local) + 1 > static_cast<std::size_t>(namelen)) return Fail(ws::WSAEFAULT);
    std::strcpy(name, local);
    return 0;
}

ws::servent* GetServByName(const char* name, const char* proto) {
    if (int e = CallAllowed()) return NoEntry(e);
    if (name == nullptr) return NoEntry(ws::WSAEFAULT);
    if (sys::ServiceByName(name, proto, &serviceStorage.data) < 0) return NoEntry(ws::WSANO_DATA);
    return FillService();
}

ws::servent* GetServByPort(int port, const char* proto) {
    if (int e = CallAllowed()) return NoEntry(e);
    if (sys::ServiceByPort(static_cast<ws::u_short>(port), proto, &serviceStorage.data) < 0)
        return NoEntry(ws::WSANO_DATA);
    return FillService();
}

ws::protoent* GetProtoByName(const char* name) {
    if (int e = CallAllowed()) return NoEntry(e);
    if (name == nullptr) return NoEntry(ws::WSAEFAULT);
    if (sys::ProtocolByName(name, &protocolStorage.data) < 0) return NoEntry(ws::WSANO_DATA);
    return FillProtocol();
}

ws::protoent* GetProtoByNumber(int number) {
    if (int e = CallAllowed()) return NoEntry(e);
    if (sys::ProtocolByNumber(number, &protocolStorage.data) < 0) return NoEntry(ws::WSANO_DATA);
    return FillProtocol();
}

// --- asynchronous lookups: not offered (the console uses the blocking forms). They fail
// the way Windows Sockets fails a request it cannot take on.

namespace {
ws::HANDLE Refuse() {
    int e = CallAllowed();
    Fail(e != 0 ? e : ws::WSAEOPNOTSUPP);
    return 0;
}
}  // namespace

ws::HANDLE AsyncGetServByName(ws::HWND, unsigned, const char*, const char*, char*, int) {
    return Refuse();
}
ws::HANDLE AsyncGetServByPort(ws::HWND, unsigned, int, const char*, char*, int) {
    return Refuse();
}
ws::HANDLE AsyncGetProtoByName(ws::HWND, unsigned, const char*, char*, int) {
    return Refuse();
}
ws::HANDLE AsyncGetProtoByNumber(ws::HWND, unsigned, int, char*, int) {
    return Refuse();
}
ws::HANDLE AsyncGetHostByName(ws::HWND, unsigned, const char*, char*, int) {
    return Refuse();
}
ws::HANDLE AsyncGetHostByAddr(ws::HWND, unsigned, const char*, int, int, char*, int) {
    return Refuse();
}

int CancelAsyncRequest(ws::HANDLE) {
    if (int e = CallAllowed()) return Fail(e);
    return Fail(ws::WSAEINVAL);  // no request can be outstanding
}

}  // namespace wsock
