// pindle-pac-evaluator: runs one proxy auto-configuration script in a process of its own,
// so that a script that loops, allocates without end or crashes the engine costs its
// caller nothing but a time-out (see platform::ProxyAutoConfiguration).
//
// Input on stdin: the URL, a newline, the host, a newline, then the script. Output on
// stdout: what FindProxyForURL(url, host) returned, as text. Exit status 0 on success,
// 1 when the script does not define the function or throws, 2 when the input is too large
// or the engine runs out of its memory budget.
#include <arpa/inet.h>
#include <duktape.h>
#include <ifaddrs.h>
#include <netdb.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <iterator>
#include <string>

namespace {

constexpr std::size_t maximumInput = 1u << 20;
constexpr std::size_t memoryBudget = 64u << 20;
constexpr rlim_t cpuSecondsBackstop = 30;

const char* const helpers =
#include "PacHelpers.js.inc"
    ;

// A heap allocator that refuses to go past the budget: the script then meets an
// out-of-memory error instead of exhausting the machine.
struct Budget {
    std::size_t used = 0;
};

struct Header {
    std::size_t size;
    std::max_align_t align;
};

void* budgetAlloc(void* data, duk_size_t size) {
    auto* budget = static_cast<Budget*>(data);
    if (size == 0 || size > memoryBudget - budget->used)
        return nullptr;
    auto* block = static_cast<unsigned char*>(std::malloc(sizeof(Header) + size));
    if (!block)
        return nullptr;
    reinterpret_cast<Header*>(block)->size = size;
    budget->used += size;
    return block + sizeof(Header);
}

void budgetFree(void* data, void* pointer) {
    if (!pointer)
        return;
    auto* budget = static_cast<Budget*>(data);
    auto* block = static_cast<unsigned char*>(pointer) - sizeof(Header);
    budget->used -= reinterpret_cast<Header*>(block)->size;
    std::free(block);
}

void* budgetRealloc(void* data, void* pointer, duk_size_t size) {
    if (!pointer)
        return budgetAlloc(data, size);
    if (size == 0) {
        budgetFree(data, pointer);
        return nullptr;
    }
    auto* budget = static_cast<Budget*>(data);
    auto* block = static_cast<unsigned char*>(pointer) - sizeof(Header);
    std::size_t old = reinterpret_cast<Header*>(block)->size;
    if (size > old && size - old > memoryBudget - budget->used)
        return nullptr;
    auto* moved = static_cast<unsigned char*>(std::realloc(block, sizeof(Header) + size));
    if (!moved)
        return nullptr;
    reinterpret_cast<Header*>(moved)->size = size;
    budget->used = budget->used - old + size;
    return moved + sizeof(Header);
}

void fatal(void*, const char* message) {
    std::fprintf(stderr, "pac: %s\n", message ? message : "fatal error");
    std::_Exit(2);
}

// dnsResolve(host): the first IPv4 address of the host, as text, or null.
duk_ret_t dnsResolve(duk_context* context) {
    const char* host = duk_safe_to_string(context, 0);
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host, nullptr, &hints, &found) != 0 || !found) {
        duk_push_null(context);
        return 1;
    }
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr, text,
              sizeof text);
    ::freeaddrinfo(found);
    duk_push_string(context, text);
    return 1;
}

// myIpAddress(): the first IPv4 address of an interface that is up and not loopback, else
// the loopback address.
duk_ret_t myIpAddress(duk_context* context) {
    std::string result = "127.0.0.1";
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) == 0) {
        for (ifaddrs* entry = list; entry; entry = entry->ifa_next) {
            if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET)
                continue;
            auto* address = reinterpret_cast<sockaddr_in*>(entry->ifa_addr);
            if ((ntohl(address->sin_addr.s_addr) >> 24) == 127)
                continue;
            char text[INET_ADDRSTRLEN] = {};
            inet_ntop(AF_INET, &address->sin_addr, text, sizeof text);
            result = text;
            break;
        }
        ::freeifaddrs(list);
    }
    duk_push_string(context, result.c_str());
    return 1;
}

duk_ret_t evaluate(duk_context* context, void*) {
    // [script, url, host]
    duk_eval_string_noresult(context, helpers);
    duk_dup(context, 0);
    duk_eval_noresult(context);
    if (!duk_get_global_string(context, "FindProxyForURL") || !duk_is_function(context, -1))
        return duk_error(context, DUK_ERR_REFERENCE_ERROR, "FindProxyForURL is not defined");
    duk_dup(context, 1);
    duk_dup(context, 2);
    duk_call(context, 2);
    duk_safe_to_string(context, -1);
    return 1;
}

}  // namespace

int main() {
    rlimit cpu{cpuSecondsBackstop, cpuSecondsBackstop};
    ::setrlimit(RLIMIT_CPU, &cpu);

    std::string input;
    char chunk[8192];
    while (std::size_t count = std::fread(chunk, 1, sizeof chunk, stdin)) {
        input.append(chunk, count);
        if (input.size() > maximumInput)
            return 2;
    }
    auto urlEnd = input.find('\n');
    auto hostEnd = urlEnd == std::string::npos ? urlEnd : input.find('\n', urlEnd + 1);
    if (hostEnd == std::string::npos)
        return 2;
    std::string url = input.substr(0, urlEnd);
    std::string host = input.substr(urlEnd + 1, hostEnd - urlEnd - 1);
    std::string script = input.substr(hostEnd + 1);

    Budget budget;
    duk_context* context =
        duk_create_heap(budgetAlloc, budgetRealloc, budgetFree, &budget, fatal);
    if (!context)
        return 2;
    duk_push_c_function(context, dnsResolve, 1);
    duk_put_global_string(context, "dnsResolve");
    duk_push_c_function(context, myIpAddress, 0);
    duk_put_global_string(context, "myIpAddress");

    duk_push_lstring(context, script.data(), script.size());
    duk_push_lstring(context, url.data(), url.size());
    duk_push_lstring(context, host.data(), host.size());
    if (duk_safe_call(context, evaluate, nullptr, 3, 1) != DUK_EXEC_SUCCESS) {
        std::fprintf(stderr, "pac: %s\n", duk_safe_to_string(context, -1));
        duk_destroy_heap(context);
        return 1;
    }
    std::size_t length = 0;
    const char* result = duk_get_lstring(context, -1, &length);
    std::fwrite(result, 1, length, stdout);
    duk_destroy_heap(context);
    return 0;
}
