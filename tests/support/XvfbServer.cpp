#include "support/XvfbServer.hpp"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "platform/display/Display.hpp"

namespace pindle::testing {

namespace {

constexpr int startTimeoutMs = 10000;

std::optional<std::string> findProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string folders = path ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= folders.size()) {
        const std::size_t end = folders.find(':', start);
        const std::string folder =
            folders.substr(start, end == std::string::npos ? std::string::npos : end - start);
        const std::string candidate = (folder.empty() ? "." : folder) + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate;
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return std::nullopt;
}

Display* x(void* display) {
    return static_cast<Display*>(display);
}

}  // namespace

std::string XvfbServer::unusedDisplayName() {
    // Above the numbers servers pick for themselves.
    for (int number = 4000;; ++number) {
        const std::string n = std::to_string(number);
        if (::access(("/tmp/.X11-unix/X" + n).c_str(), F_OK) != 0 &&
            ::access(("/tmp/.X" + n + "-lock").c_str(), F_OK) != 0)
            return ":" + n;
    }
}

std::unique_ptr<XvfbServer> XvfbServer::start(std::string* whyNot) {
    const auto program = findProgram("Xvfb");
    if (!program) {
        *whyNot = "Xvfb is not installed (Debian package xvfb)";
        return nullptr;
    }
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        *whyNot = "no pipe for Xvfb";
        return nullptr;
    }
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        // The server ends with the test process, however that ends (a death test's child
        // leaves through _Exit). Only async-signal-safe calls until exec.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(127);
        ::dup2(fds[1], 3);
        ::setsid();
        const int devnull = ::open("/dev/null", O_RDWR);
        ::dup2(devnull, 0);
        ::dup2(devnull, 1);
        ::dup2(devnull, 2);
        ::execl(program->c_str(), "Xvfb", "-displayfd", "3", "-screen", "0", "1280x1024x24",
                "-nolisten", "tcp", "-noreset", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(fds[1]);
    std::unique_ptr<XvfbServer> server(new XvfbServer());
    server->pid_ = pid;
    std::string number;
    pollfd wait{fds[0], POLLIN, 0};
    while (::poll(&wait, 1, startTimeoutMs) > 0) {
        char c;
        if (::read(fds[0], &c, 1) != 1 || c == '\n')
            break;
        number += c;
    }
    ::close(fds[0]);
    if (number.empty()) {
        *whyNot = "Xvfb did not start";
        return nullptr;
    }
    server->name_ = ":" + number;
    if (!server->connection()) {
        *whyNot = "Xvfb on " + server->name_ + " does not answer";
        return nullptr;
    }
    return server;
}

XvfbServer::~XvfbServer() {
    kill();
}

void XvfbServer::kill() {
    if (display_) {
        // Closing a connection whose server is gone would end the process inside Xlib.
        if (pid_ > 0)
            XCloseDisplay(x(display_));
        display_ = nullptr;
    }
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
}

void* XvfbServer::connection() {
    if (!display_ && pid_ > 0)
        display_ = XOpenDisplay(name_.c_str());
    return display_;
}

platform::ImagePtr XvfbServer::capture(std::uint64_t window) {
    Display* d = x(connection());
    if (!d || !window)
        return nullptr;
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(d, window, &attributes))
        return nullptr;
    XImage* image = XGetImage(d, window, 0, 0, static_cast<unsigned>(attributes.width),
                              static_cast<unsigned>(attributes.height), AllPlanes, ZPixmap);
    if (!image)
        return nullptr;
    std::vector<std::uint8_t> rgba(static_cast<std::size_t>(image->width) * image->height * 4);
    std::size_t at = 0;
    // The usual layout of a 24-bit screen is read straight from memory: a test that watches
    // an animation reads the screen at every refresh.
    const bool direct = image->bits_per_pixel == 32 && image->byte_order == LSBFirst &&
                        image->red_mask == 0xff0000 && image->green_mask == 0xff00 &&
                        image->blue_mask == 0xff;
    for (int row = 0; row < image->height; ++row)
        for (int column = 0; column < image->width; ++column) {
            unsigned long pixel;
            if (direct) {
                std::uint32_t word;
                std::memcpy(&word,
                            image->data + static_cast<std::ptrdiff_t>(row) * image->bytes_per_line +
                                column * 4,
                            4);
                pixel = word;
            } else {
                pixel = XGetPixel(image, column, row);
            }
            rgba[at++] = static_cast<std::uint8_t>((pixel & image->red_mask) >> 16);
            rgba[at++] = static_cast<std::uint8_t>((pixel & image->green_mask) >> 8);
            rgba[at++] = static_cast<std::uint8_t>(pixel & image->blue_mask);
            rgba[at++] = 255;
        }
    const int width = image->width, height = image->height;
    XDestroyImage(image);
    return platform::Image::make(width, height, std::move(rgba));
}

bool XvfbServer::moveInside(std::uint64_t window, platform::ui::Point at) {
    Display* d = x(connection());
    if (!d || !window)
        return false;
    int rootX = 0, rootY = 0;
    ::Window child;
    XTranslateCoordinates(d, window, DefaultRootWindow(d), static_cast<int>(std::lround(at.x)),
                          static_cast<int>(std::lround(at.y)), &rootX, &rootY, &child);
    XTestFakeMotionEvent(d, -1, rootX, rootY, CurrentTime);
    return true;
}

void XvfbServer::press(std::uint64_t window, platform::ui::Point at) {
    if (!moveInside(window, at))
        return;
    XTestFakeButtonEvent(x(display_), 1, True, CurrentTime);
    XFlush(x(display_));
}

void XvfbServer::moveTo(std::uint64_t window, platform::ui::Point at) {
    if (moveInside(window, at))
        XFlush(x(display_));
}

void XvfbServer::release(std::uint64_t window, platform::ui::Point at) {
    if (!moveInside(window, at))
        return;
    XTestFakeButtonEvent(x(display_), 1, False, CurrentTime);
    XFlush(x(display_));
}

std::thread XvfbServer::closeFirstWindowShown(double seconds) {
    return std::thread([name = name_, seconds] {
        Display* d = XOpenDisplay(name.c_str());
        if (!d)
            return;
        const Atom protocols = XInternAtom(d, "WM_PROTOCOLS", False);
        const Atom remove = XInternAtom(d, "WM_DELETE_WINDOW", False);
        constexpr int stepMicros = 50000;
        for (int waited = 0; waited < seconds * 1e6; waited += stepMicros) {
            ::Window root = 0, parent = 0, *children = nullptr;
            unsigned count = 0;
            ::Window shown = 0;
            if (XQueryTree(d, DefaultRootWindow(d), &root, &parent, &children, &count)) {
                for (unsigned i = 0; i < count && !shown; ++i) {
                    XWindowAttributes attributes;
                    if (XGetWindowAttributes(d, children[i], &attributes) &&
                        attributes.map_state == IsViewable)
                        shown = children[i];
                }
                if (children)
                    XFree(children);
            }
            if (shown) {
                XEvent event{};
                event.xclient.type = ClientMessage;
                event.xclient.window = shown;
                event.xclient.message_type = protocols;
                event.xclient.format = 32;
                event.xclient.data.l[0] = static_cast<long>(remove);
                event.xclient.data.l[1] = CurrentTime;
                XSendEvent(d, shown, False, NoEventMask, &event);
                XFlush(d);
                break;
            }
            ::usleep(stepMicros);
        }
        XCloseDisplay(d);
    });
}

void XvfbServer::resize(std::uint64_t window, int width, int height) {
    Display* d = x(connection());
    if (!d || !window)
        return;
    XResizeWindow(d, window, static_cast<unsigned>(width), static_cast<unsigned>(height));
    XFlush(d);
}

void XvfbServer::typeKey(unsigned long keysym) {
    Display* d = x(connection());
    if (!d)
        return;
    const KeyCode code = XKeysymToKeycode(d, keysym);
    XTestFakeKeyEvent(d, code, True, CurrentTime);
    XTestFakeKeyEvent(d, code, False, CurrentTime);
    XFlush(d);
}

std::unique_ptr<XvfbServer> DesktopTest::server_;
std::string DesktopTest::whyNot_;

void DesktopTest::SetUpTestSuite() {
    if (!server_)
        server_ = XvfbServer::start(&whyNot_);
}

void DesktopTest::TearDownTestSuite() {
    platform::Display::reset();
    server_.reset();
}

void DesktopTest::SetUp() {
    if (!server_ || !server_->isRunning())
        GTEST_SKIP() << "no X server for the desktop tests: " << whyNot_;
    platform::Display::reset();
    ::setenv("DISPLAY", server_->displayName().c_str(), 1);
    ::unsetenv("WAYLAND_DISPLAY");
    ::unsetenv(platform::Display::environmentVariable);
    // SDL's own software renderer: the GL drivers an X server in memory offers (llvmpipe)
    // would add seconds of start-up and allocations the leak checker cannot see freed.
    // Nor may it back the window's surface with GL, which would load the drivers anyway.
    ::setenv("SDL_RENDER_DRIVER", "software", 1);
    ::setenv("SDL_FRAMEBUFFER_ACCELERATION", "0", 1);
}

void DesktopTest::TearDown() {
    platform::Display::reset();
    ::setenv(platform::Display::environmentVariable, "headless", 1);
    ::unsetenv("DISPLAY");
    ::unsetenv("SDL_RENDER_DRIVER");
    ::unsetenv("SDL_FRAMEBUFFER_ACCELERATION");
}

}  // namespace pindle::testing
