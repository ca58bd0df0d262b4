// ResourceBundle: a named set of resources (images, files, localised strings) compiled into
// the library that ships them, found by identifier ("local.pindle.PindlePlayer"), so that
// nothing depends on where the libraries are installed. A library's bundles are made from a
// folder of files by the CMake function pindle_embed_resources (cmake/PindleResources.cmake),
// which compiles the bytes in and registers the bundle when the library is loaded; hosts and
// tests may register more in code.
//
// Resources are byte strings named "name.type" (Image::named decodes the pictures among them).
// pathForResource() writes one out once for code that needs a file: into
// <Caches>/bundles/<pid>/<identifier>/, a folder of this process's own (held by a lock for the
// process's life, so a later process removes it once this one has ended), never into the
// install location. Only plain names (no "/", not starting with ".") become file names.
//
// Thread-safety: all operations are safe from any thread. No callbacks.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "platform/foundation/Data.hpp"
#include "platform/foundation/Object.hpp"

namespace pindle::platform {

class ResourceBundle;
using ResourceBundlePtr = std::shared_ptr<ResourceBundle>;

class ResourceBundle : public Object {
  public:
    // Table name -> key -> text. The table "Localizable" is the default one.
    using Strings = std::map<std::string, std::map<std::string, std::string>>;

    // One file compiled into a library.
    struct EmbeddedFile {
        const char* name;
        const unsigned char* bytes;
        std::size_t size;
    };

    // Registers (or replaces) the bundle `identifier`.
    static ResourceBundlePtr registerBundle(std::string identifier,
                                            std::map<std::string, Data> resources = {},
                                            Strings strings = {});
    // Registers (or replaces) the bundle `identifier` made of compiled-in files: each is a
    // resource by its name, and each "<table>.strings" that reads as a strings table
    // (StringsFile) is also the localised strings table <table>.
    static ResourceBundlePtr registerEmbedded(std::string identifier, const EmbeddedFile* files,
                                              std::size_t count);
    // Null when no bundle has that identifier.
    static ResourceBundlePtr withIdentifier(const std::string& identifier);

    ResourceBundle(std::string identifier, std::map<std::string, Data> resources, Strings strings);

    const std::string& identifier() const { return identifier_; }
    // The bytes of "name.type" (or of `name` when type is empty); nothing when absent.
    std::optional<Data> data(const std::string& name, const std::string& type) const;
    // A file holding the resource, written on first use (again if it has gone); nothing when
    // absent, not a plain name, or unwritable.
    std::optional<std::string> pathForResource(const std::string& name,
                                               const std::string& type) const;
    // The text of `key` in `table` (empty: "Localizable"); `value` when missing, or the key
    // when `value` is empty too.
    std::string localizedString(const std::string& key, const std::string& value,
                                const std::string& table) const;

  private:
    const std::string identifier_;
    const std::map<std::string, Data> resources_;
    const Strings strings_;
    mutable std::mutex mutex_;
    mutable std::set<std::string> writtenPaths_;  // guarded by mutex_
};

}  // namespace pindle::platform
