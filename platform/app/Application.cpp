#include "platform/app/Application.hpp"

#include "platform/foundation/NotificationCenter.hpp"

namespace pindle::platform {

Application& Application::shared() {
    static Application* application = new Application();
    return *application;
}

void Application::postWillTerminate() {
    NotificationCenter::defaultCenter().post(willTerminateNotification);
}

void Application::postDidReceiveMemoryWarning() {
    NotificationCenter::defaultCenter().post(didReceiveMemoryWarningNotification);
}

}  // namespace pindle::platform
