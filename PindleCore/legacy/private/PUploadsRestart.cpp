#include "PindleCore/legacy/private/PUploadsRestart.hpp"

#include "PindleCore/model/private/PNInstalled.hpp"

namespace pindle::legacy {

namespace {

// A launch's delayed restart may come due while other statics are torn down at exit.
PNInstalledFunction<void()>& installedRestart() {
    static auto* slot = new PNInstalledFunction<void()>;
    return *slot;
}

}  // namespace

void PUploadsRestart::install(Restart restart) {
    installedRestart().install(std::move(restart));
}

void PUploadsRestart::run() {
    installedRestart().call();
}

}  // namespace pindle::legacy
