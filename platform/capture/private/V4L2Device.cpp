#include "platform/capture/private/V4L2Device.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace pindle::platform {

namespace {

// Bounds on what a device may list, so a faulty driver cannot make the scan run away.
constexpr std::uint32_t maxFormats = 64;
constexpr std::uint32_t maxSizes = 256;
constexpr std::uint32_t maxRates = 64;

std::string fourcc(std::uint32_t code) {
    std::string text;
    for (int shift = 0; shift < 32; shift += 8) {
        const char c = static_cast<char>((code >> shift) & 0xff);
        if (c != ' ' && c != '\0')
            text += c;
    }
    return text;
}

}  // namespace

std::vector<std::string> V4L2Device::nodes() {
    std::vector<std::pair<long, std::string>> found;
    if (DIR* dev = ::opendir("/dev")) {
        while (const dirent* entry = ::readdir(dev)) {
            const std::string name = entry->d_name;
            if (name.rfind("video", 0) != 0 || name.size() == 5 ||
                !std::all_of(name.begin() + 5, name.end(), ::isdigit) || name.size() > 12)
                continue;
            found.emplace_back(std::stol(name.substr(5)), "/dev/" + name);
        }
        ::closedir(dev);
    }
    std::sort(found.begin(), found.end());
    std::vector<std::string> paths;
    for (auto& [number, path] : found) paths.push_back(std::move(path));
    return paths;
}

std::unique_ptr<V4L2Device> V4L2Device::open(const std::string& path, int* error) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (error)
            *error = errno;
        return nullptr;
    }
    return std::make_unique<V4L2Device>(path, fd);
}

V4L2Device::~V4L2Device() {
    ::close(fd_);
}

int V4L2Device::ioctlRetrying(unsigned long request, void* argument) const {
    int result;
    do {
        result = ::ioctl(fd_, request, argument);
    } while (result < 0 && errno == EINTR);
    return result;
}

std::string V4L2Device::name() const {
    v4l2_capability capability{};
    if (ioctlRetrying(VIDIOC_QUERYCAP, &capability) < 0)
        return path_;
    const auto* card = reinterpret_cast<const char*>(capability.card);
    return std::string(card, strnlen(card, sizeof capability.card));
}

bool V4L2Device::capturesAndStreams() const {
    v4l2_capability capability{};
    if (ioctlRetrying(VIDIOC_QUERYCAP, &capability) < 0)
        return false;
    const std::uint32_t caps = (capability.capabilities & V4L2_CAP_DEVICE_CAPS)
                                   ? capability.device_caps
                                   : capability.capabilities;
    return (caps & V4L2_CAP_VIDEO_CAPTURE) && (caps & V4L2_CAP_STREAMING);
}

std::vector<CameraMode> V4L2Device::modes() const {
    std::vector<CameraMode> modes;
    for (std::uint32_t f = 0; f < maxFormats; ++f) {
        v4l2_fmtdesc format{};
        format.index = f;
        format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (ioctlRetrying(VIDIOC_ENUM_FMT, &format) < 0)
            break;
        const std::string code = fourcc(format.pixelformat);
        for (std::uint32_t s = 0; s < maxSizes; ++s) {
            v4l2_frmsizeenum size{};
            size.index = s;
            size.pixel_format = format.pixelformat;
            if (ioctlRetrying(VIDIOC_ENUM_FRAMESIZES, &size) < 0)
                break;
            // A stepwise range is offered by its largest and its smallest size.
            std::vector<std::pair<std::uint32_t, std::uint32_t>> sizes;
            if (size.type == V4L2_FRMSIZE_TYPE_DISCRETE)
                sizes.emplace_back(size.discrete.width, size.discrete.height);
            else
                sizes = {{size.stepwise.max_width, size.stepwise.max_height},
                         {size.stepwise.min_width, size.stepwise.min_height}};
            for (const auto& [width, height] : sizes) {
                double best = 0;
                for (std::uint32_t r = 0; r < maxRates; ++r) {
                    v4l2_frmivalenum interval{};
                    interval.index = r;
                    interval.pixel_format = format.pixelformat;
                    interval.width = width;
                    interval.height = height;
                    if (ioctlRetrying(VIDIOC_ENUM_FRAMEINTERVALS, &interval) < 0)
                        break;
                    const v4l2_fract fraction = interval.type == V4L2_FRMIVAL_TYPE_DISCRETE
                                                    ? interval.discrete
                                                    : interval.stepwise.min;
                    if (fraction.numerator > 0)
                        best = std::max(
                            best, static_cast<double>(fraction.denominator) / fraction.numerator);
                    if (interval.type != V4L2_FRMIVAL_TYPE_DISCRETE)
                        break;
                }
                modes.push_back({code, static_cast<int>(width), static_cast<int>(height), best});
            }
            if (size.type != V4L2_FRMSIZE_TYPE_DISCRETE)
                break;
        }
    }
    return modes;
}

bool V4L2Device::facesFront() const {
#ifdef V4L2_CID_CAMERA_ORIENTATION
    v4l2_control value{};
    value.id = V4L2_CID_CAMERA_ORIENTATION;
    return ioctlRetrying(VIDIOC_G_CTRL, &value) == 0 &&
           value.value == V4L2_CAMERA_ORIENTATION_FRONT;
#else
    return false;
#endif
}

std::optional<V4L2Device::ControlRange> V4L2Device::control(std::uint32_t id) const {
    v4l2_queryctrl query{};
    query.id = id;
    if (ioctlRetrying(VIDIOC_QUERYCTRL, &query) < 0 || (query.flags & V4L2_CTRL_FLAG_DISABLED))
        return std::nullopt;
    return ControlRange{query.minimum, query.maximum, query.default_value};
}

bool V4L2Device::setControl(std::uint32_t id, std::int32_t value) const {
    v4l2_control control{};
    control.id = id;
    control.value = value;
    return ioctlRetrying(VIDIOC_S_CTRL, &control) == 0;
}

}  // namespace pindle::platform
