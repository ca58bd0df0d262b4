#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "tools/emulator/Request.hpp"
#include "tools/emulator/Response.hpp"
#include "tools/emulator/Router.hpp"

namespace pindle::emulator {

// The storage service that receives video media, at the addresses of the upload descriptions
// the videos resource hands out ("/uploads/{id}/{file}"), with a resumable-upload protocol:
//   POST {file} with "x-goog-resumable: start"   opens a session: 201 and "Location"
//   PUT  {file}/session/{n}  with "Content-Range: bytes a-b/total" (or "/*" while the total is
//        unknown) and the bytes: stores them at a; 308 with "Range: bytes=0-b" while the
//        object is incomplete, 200 once it holds all of a known total
//   PUT  {file}/prefix                           the object's first bytes, stored as they come
// Ranges must follow one another without gaps (a range that does not start where the object
// ends gets 400, as does a malformed header); an unknown session gets 404.
// Thread-safety: safe from any thread; handlers run on the server's I/O threads.
class StorageResource {
  public:
    using BaseURL = std::function<std::string()>;

    explicit StorageResource(BaseURL baseURL);
    StorageResource(const StorageResource&) = delete;
    StorageResource& operator=(const StorageResource&) = delete;

    void addRoutes(Router& router);

    // What an object holds so far: the prefix followed by the ranged bytes. Nothing before
    // anything was stored under that name ("{id}/{file}").
    std::optional<std::string> object(const std::string& name) const;
    // Whether the ranged part of the object is complete.
    bool isComplete(const std::string& name) const;
    std::size_t sessionsOpened() const;

  private:
    struct StoredObject {
        std::string prefix;
        std::string body;
        std::optional<std::int64_t> total;
    };

    Response start(const Request& request, const std::string& name);
    Response putRange(const Request& request, const std::string& session);
    Response putPrefix(const Request& request, const std::string& name);

    const BaseURL baseURL_;
    mutable std::mutex mutex_;
    std::map<std::string, StoredObject> objects_;  // guarded by mutex_
    std::map<std::string, std::string> sessions_;  // session -> object name; guarded by mutex_
    std::size_t nextSession_ = 1;                  // guarded by mutex_
};

}  // namespace pindle::emulator
