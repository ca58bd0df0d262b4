#include "platform/ui/AlertView.hpp"

#include <algorithm>

namespace pindle::platform::ui {
namespace {

std::mutex& visibleMutex() {
    static std::mutex mutex;
    return mutex;
}

std::vector<AlertViewPtr>& visible() {  // guarded by visibleMutex()
    static std::vector<AlertViewPtr> alerts;
    return alerts;
}

std::vector<std::string> allButtons(const std::string& cancel, std::vector<std::string> others) {
    if (!cancel.empty())
        others.insert(others.begin(), cancel);
    return others;
}

}  // namespace

AlertViewPtr AlertView::make(std::string title, std::string message,
                             std::weak_ptr<AlertViewDelegate> delegate,
                             std::string cancelButtonTitle,
                             std::vector<std::string> otherButtonTitles) {
    return std::make_shared<AlertView>(std::move(title), std::move(message), std::move(delegate),
                                       std::move(cancelButtonTitle), std::move(otherButtonTitles));
}

AlertView::AlertView(std::string title, std::string message,
                     std::weak_ptr<AlertViewDelegate> delegate, std::string cancelButtonTitle,
                     std::vector<std::string> otherButtonTitles)
    : title_(std::move(title)),
      message_(std::move(message)),
      delegate_(std::move(delegate)),
      hasCancel_(!cancelButtonTitle.empty()),
      buttons_(allButtons(cancelButtonTitle, std::move(otherButtonTitles))) {}

void AlertView::show() {
    auto self = std::static_pointer_cast<AlertView>(shared_from_this());
    std::lock_guard lock(visibleMutex());
    if (std::find(visible().begin(), visible().end(), self) == visible().end())
        visible().push_back(std::move(self));
}

bool AlertView::isVisible() const {
    std::lock_guard lock(visibleMutex());
    return std::any_of(visible().begin(), visible().end(),
                       [this](const AlertViewPtr& alert) { return alert.get() == this; });
}

bool AlertView::clickButton(int index) {
    if (index < 0 || static_cast<std::size_t>(index) >= buttons_.size())
        return false;
    {
        std::lock_guard lock(visibleMutex());
        auto& alerts = visible();
        auto it = std::find_if(alerts.begin(), alerts.end(),
                               [this](const AlertViewPtr& alert) { return alert.get() == this; });
        if (it == alerts.end())
            return false;
        alerts.erase(it);
    }
    if (auto delegate = delegate_.lock())
        delegate->alertViewClickedButtonAtIndex(*this, index);
    return true;
}

std::vector<AlertViewPtr> AlertView::visibleAlerts() {
    std::lock_guard lock(visibleMutex());
    return visible();
}

void AlertView::dismissAll() {
    std::lock_guard lock(visibleMutex());
    visible().clear();
}

}  // namespace pindle::platform::ui
