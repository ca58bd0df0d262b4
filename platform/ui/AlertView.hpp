// AlertView: a modal message with buttons. show() puts it on screen (visibleAlerts() lists
// what is showing, oldest first); a tap on a button, which hosts and tests make with
// clickButton(), takes it off screen and tells the delegate the button's index: the cancel
// button is index 0 when there is one, the other buttons follow in order.
//
// Thread-safety: all operations are safe from any thread; interface work belongs on the
// main thread. The delegate is held weakly and called on the thread that clicks, with no
// lock held.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/foundation/Object.hpp"

namespace pindle::platform::ui {

class AlertView;
using AlertViewPtr = std::shared_ptr<AlertView>;

class AlertViewDelegate {
  public:
    virtual ~AlertViewDelegate() = default;
    virtual void alertViewClickedButtonAtIndex(AlertView& alert, int index) = 0;
};

class AlertView : public Object {
  public:
    static AlertViewPtr make(std::string title, std::string message,
                             std::weak_ptr<AlertViewDelegate> delegate,
                             std::string cancelButtonTitle,
                             std::vector<std::string> otherButtonTitles);
    AlertView(std::string title, std::string message, std::weak_ptr<AlertViewDelegate> delegate,
              std::string cancelButtonTitle, std::vector<std::string> otherButtonTitles);

    const std::string& title() const { return title_; }
    const std::string& message() const { return message_; }
    // All button titles by index (the cancel button first, when there is one).
    const std::vector<std::string>& buttonTitles() const { return buttons_; }
    int cancelButtonIndex() const { return hasCancel_ ? 0 : -1; }

    void show();
    bool isVisible() const;
    // Takes the alert off screen and tells the delegate; false (nothing done) when the
    // alert is not showing or the index names no button.
    bool clickButton(int index);

    static std::vector<AlertViewPtr> visibleAlerts();
    // Takes every alert off screen without telling anyone (for tests).
    static void dismissAll();

  private:
    const std::string title_;
    const std::string message_;
    // by hand: fixed at construction, so it needs no lock
    const std::weak_ptr<AlertViewDelegate> delegate_;
    const bool hasCancel_;
    const std::vector<std::string> buttons_;
};

}  // namespace pindle::platform::ui
