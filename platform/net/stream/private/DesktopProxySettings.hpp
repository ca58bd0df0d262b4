// DesktopProxySettings: what the desktop's own proxy settings (GNOME's, read with its
// gsettings program) say about proxy auto-configuration: the automatic-proxy URL when the
// proxy mode is "auto".
//
// The program runs at most once per reader, when first asked, and is killed when it has not
// answered within the reader's time-out; the answer, or its absence, is kept for the life of
// the reader. ProxySettings::system() asks shared(), so a process runs gsettings at most once
// however many connections it opens: a change of the desktop's setting reaches the next
// process.
//
// Thread-safety: every operation may be called from any thread; a caller that comes while the
// program runs waits for its answer (at most the time-out).
#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace pindle::platform {

class DesktopProxySettings {
  public:
    static constexpr double defaultTimeout = 2.0;

    // The process's reader, of the gsettings program installed on the system (none asked when
    // there is none).
    static DesktopProxySettings& shared();

    // `program`: the gsettings program to run; nothing means there is no desktop to ask.
    explicit DesktopProxySettings(std::optional<std::string> program,
                                  double timeout = defaultTimeout);
    DesktopProxySettings(const DesktopProxySettings&) = delete;
    DesktopProxySettings& operator=(const DesktopProxySettings&) = delete;

    // The automatic-proxy URL, when the desktop's proxy mode is "auto" and names one.
    std::optional<std::string> autoConfigurationURL();

    // The same, read from what "gsettings list-recursively org.gnome.system.proxy" printed.
    static std::optional<std::string> autoConfigurationURLFromListing(std::string_view listing);

  private:
    const std::optional<std::string> program_;
    const double timeout_;
    std::once_flag read_;
    std::optional<std::string> url_;  // written once, under read_
};

}  // namespace pindle::platform
