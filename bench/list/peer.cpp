// pindle-list-peer: the peer of `pindle-list-bench calls` for scripts/bench, a program of its own
// so that it loads only what it uses: libcurl on one kept-alive connection makes the same
// session request and the same list requests the SDK makes, and nlohmann::json parses each
// reply whole. Fails when a request fails or a list comes back short.
//
// usage: pindle-list-peer GATEWAY API_TOKEN CALLS PER_PAGE
#include <curl/curl.h>

#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>

namespace {

// The list query the SDK sends for the first page of `perPage` videos with no filter.
std::string listQuery(const std::string& gateway, long perPage) {
    return "http://" + gateway + "/v1/videos?identity=&limit=" + std::to_string(perPage) +
           "&metadata=e30%3D&offset=0&sortOrder=desc&tags=W10%3D&title=";
}

std::size_t appendReply(char* bytes, std::size_t size, std::size_t count, void* reply) {
    static_cast<std::string*>(reply)->append(bytes, size * count);
    return size * count;
}

// One request on the kept-alive handle; the reply's JSON, or a discarded value when the
// request fails or the reply is no JSON.
nlohmann::json fetch(CURL* curl, const std::string& url, curl_slist* headers,
                     const char* postBody) {
    std::string reply;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    if (postBody)
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, postBody);
    else
        curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, appendReply);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply);
    long status = 0;
    if (curl_easy_perform(curl) != CURLE_OK ||
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK || status >= 300)
        return nlohmann::json(nlohmann::json::value_t::discarded);
    return nlohmann::json::parse(reply, nullptr, false);
}

int calls(const std::string& gateway, const std::string& apiToken, long count, long perPage) {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    CURL* curl = curl_easy_init();
    curl_slist* sessionHeaders = curl_slist_append(nullptr, "Content-Type: application/json");
    sessionHeaders =
        curl_slist_append(sessionHeaders, ("Authorization: Bearer " + apiToken).c_str());
    const nlohmann::json session = fetch(curl, "http://" + gateway + "/v1/sessions", sessionHeaders,
                                         R"({"identity":"bench"})");
    curl_slist_free_all(sessionHeaders);
    int status = 0;
    if (session.is_discarded() || !session.contains("sessionToken")) {
        std::fprintf(stderr, "pindle-list-bench: no session\n");
        status = 1;
    }
    curl_slist* listHeaders = nullptr;
    if (status == 0) {
        listHeaders = curl_slist_append(
            nullptr,
            ("Authorization: Bearer " + session["sessionToken"].get<std::string>()).c_str());
    }
    const std::string url = listQuery(gateway, perPage);
    for (long call = 0; status == 0 && call < count; ++call) {
        const nlohmann::json list = fetch(curl, url, listHeaders, nullptr);
        if (list.is_discarded() || !list.is_array() ||
            list.size() != static_cast<std::size_t>(perPage)) {
            std::fprintf(stderr, "pindle-list-bench: list call %ld failed\n", call);
            status = 1;
        }
    }
    curl_slist_free_all(listHeaders);
    curl_easy_cleanup(curl);
    curl_global_cleanup();
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s GATEWAY API_TOKEN CALLS PER_PAGE\n", argv[0]);
        return 2;
    }
    return calls(argv[1], argv[2], std::stol(argv[3]), std::stol(argv[4]));
}
