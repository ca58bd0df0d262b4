#include "platform/pac-evaluator/PacEvaluator.hpp"

#include <arpa/inet.h>
#include <duktape.h>
#include <ifaddrs.h>
#include <sys/socket.h>

#include <cstdlib>
#include <cstring>

namespace pindle::pac {

namespace {

const char* const helpers =
#include "PacHelpers.js.inc"
    ;

// The engine's heap: a budget the allocator refuses to pass, so that a script meets an
// out-of-memory error instead of exhausting the machine; and the name resolver.
struct Heap {
    std::size_t used = 0;
    Resolver resolve = nullptr;
    FatalHandler fatal = nullptr;
};

struct Header {
    std::size_t size;
    std::max_align_t align;
};

void* budgetAlloc(void* data, duk_size_t size) {
    auto* heap = static_cast<Heap*>(data);
    if (size == 0 || size > memoryBudget - heap->used)
        return nullptr;
    auto* block = static_cast<unsigned char*>(std::malloc(sizeof(Header) + size));
    if (!block)
        return nullptr;
    reinterpret_cast<Header*>(block)->size = size;
    heap->used += size;
    return block + sizeof(Header);
}

void budgetFree(void* data, void* pointer) {
    if (!pointer)
        return;
    auto* heap = static_cast<Heap*>(data);
    auto* block = static_cast<unsigned char*>(pointer) - sizeof(Header);
    heap->used -= reinterpret_cast<Header*>(block)->size;
    std::free(block);
}

void* budgetRealloc(void* data, void* pointer, duk_size_t size) {
    if (!pointer)
        return budgetAlloc(data, size);
    if (size == 0) {
        budgetFree(data, pointer);
        return nullptr;
    }
    auto* heap = static_cast<Heap*>(data);
    auto* block = static_cast<unsigned char*>(pointer) - sizeof(Header);
    std::size_t old = reinterpret_cast<Header*>(block)->size;
    if (size > old && size - old > memoryBudget - heap->used)
        return nullptr;
    auto* moved = static_cast<unsigned char*>(std::realloc(block, sizeof(Header) + size));
    if (!moved)
        return nullptr;
    reinterpret_cast<Header*>(moved)->size = size;
    heap->used = heap->used - old + size;
    return moved + sizeof(Header);
}

void fatal(void* data, const char* message) {
    static_cast<Heap*>(data)->fatal(message ? message : "fatal error");
    std::abort();  // a fatal handler must not return
}

Heap& heapOf(duk_context* context) {
    duk_memory_functions functions{};
    duk_get_memory_functions(context, &functions);
    return *static_cast<Heap*>(functions.udata);
}

// dnsResolve(host): the first IPv4 address of the host, as text, or null.
duk_ret_t dnsResolve(duk_context* context) {
    const char* host = duk_safe_to_string(context, 0);
    std::optional<std::string> address = heapOf(context).resolve(host);
    if (address)
        duk_push_lstring(context, address->data(), address->size());
    else
        duk_push_null(context);
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

duk_ret_t shExpMatch(duk_context* context) {
    duk_size_t textLength = 0;
    duk_size_t patternLength = 0;
    const char* text = duk_safe_to_lstring(context, 0, &textLength);
    const char* pattern = duk_safe_to_lstring(context, 1, &patternLength);
    duk_push_boolean(context, shellExpressionMatches({text, textLength}, {pattern, patternLength}));
    return 1;
}

duk_ret_t run(duk_context* context, void*) {
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

// The length of the UTF-8 sequence that starts at `text[0]` (1 for a stray byte).
std::size_t sequenceLength(std::string_view text) {
    std::size_t length = 1;
    while (length < text.size() && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80)
        ++length;
    return length;
}

}  // namespace

bool shellExpressionMatches(std::string_view text, std::string_view pattern) {
    // Greedy, going back only to the last "*": each star's run grows by one character per
    // retry, so no combination of stars is tried twice.
    std::size_t t = 0;
    std::size_t p = 0;
    std::optional<std::size_t> star;
    std::size_t resume = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = t;
            continue;
        }
        if (p < pattern.size() && pattern[p] == '?') {
            t += sequenceLength(text.substr(t));
            ++p;
            continue;
        }
        if (p < pattern.size() && pattern[p] == text[t]) {
            ++t;
            ++p;
            continue;
        }
        if (!star)
            return false;
        p = *star + 1;
        resume += sequenceLength(text.substr(resume));
        t = resume;
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

Outcome evaluate(std::string_view input, std::string& answer, Resolver resolve,
                 FatalHandler fatalHandler) {
    answer.clear();
    if (input.size() > maximumInput)
        return Outcome::refused;
    auto urlEnd = input.find('\n');
    auto hostEnd = urlEnd == std::string_view::npos ? urlEnd : input.find('\n', urlEnd + 1);
    if (hostEnd == std::string_view::npos)
        return Outcome::refused;
    std::string_view url = input.substr(0, urlEnd);
    std::string_view host = input.substr(urlEnd + 1, hostEnd - urlEnd - 1);
    std::string_view script = input.substr(hostEnd + 1);

    Heap heap;
    heap.resolve = resolve;
    heap.fatal = fatalHandler;
    duk_context* context = duk_create_heap(budgetAlloc, budgetRealloc, budgetFree, &heap, fatal);
    if (!context)
        return Outcome::refused;
    duk_push_c_function(context, dnsResolve, 1);
    duk_put_global_string(context, "dnsResolve");
    duk_push_c_function(context, myIpAddress, 0);
    duk_put_global_string(context, "myIpAddress");
    duk_push_c_function(context, shExpMatch, 2);
    duk_put_global_string(context, "shExpMatch");

    duk_push_lstring(context, script.data(), script.size());
    duk_push_lstring(context, url.data(), url.size());
    duk_push_lstring(context, host.data(), host.size());
    const bool succeeded = duk_safe_call(context, run, nullptr, 3, 1) == DUK_EXEC_SUCCESS;
    duk_size_t length = 0;
    const char* result = duk_safe_to_lstring(context, -1, &length);
    answer.assign(result, length);
    duk_destroy_heap(context);
    return succeeded ? Outcome::answered : Outcome::scriptFailed;
}

}  // namespace pindle::pac
