#include "tests/support/GeoClueStandIn.hpp"

#include <fstream>

#include "tests/support/TestFolders.hpp"

namespace pindle::testing {

namespace {

constexpr std::chrono::seconds standInStartPatience{15};
// Debian's own interpreter: the one dbus-python is installed for.
constexpr const char* kPython = "/usr/bin/python3";

constexpr const char* kScript = R"PY(
import sys, time
import dbus, dbus.service, dbus.mainloop.glib
from gi.repository import GLib

address, mode = sys.argv[1], sys.argv[2]
NAME = 'org.freedesktop.GeoClue2'
CLIENT = 'org.freedesktop.GeoClue2.Client'
PROPS = 'org.freedesktop.DBus.Properties'
CLIENT_PATH = '/org/freedesktop/GeoClue2/Client/1'

class Denied(dbus.DBusException):
    _dbus_error_name = 'org.freedesktop.DBus.Error.AccessDenied'

class Failed(dbus.DBusException):
    _dbus_error_name = 'org.freedesktop.DBus.Error.Failed'

def stamp(seconds):
    whole = int(seconds)
    return dbus.Struct((dbus.UInt64(whole), dbus.UInt64(int((seconds - whole) * 1e6))), signature='tt')

class Location(dbus.service.Object):
    def __init__(self, bus, path, lat, lon, taken):
        dbus.service.Object.__init__(self, bus, path)
        self.props = {'Latitude': dbus.Double(lat), 'Longitude': dbus.Double(lon),
                      'Accuracy': dbus.Double(10.0), 'Altitude': dbus.Double(35.0),
                      'Description': dbus.String('stand-in'), 'Timestamp': stamp(taken)}

    @dbus.service.method(PROPS, in_signature='s', out_signature='a{sv}')
    def GetAll(self, interface):
        return self.props

    @dbus.service.method(PROPS, in_signature='ss', out_signature='v')
    def Get(self, interface, name):
        return self.props[name]

class Client(dbus.service.Object):
    def __init__(self, bus):
        dbus.service.Object.__init__(self, bus, CLIENT_PATH)
        self.bus = bus
        self.props = {'DesktopId': dbus.String(''), 'RequestedAccuracyLevel': dbus.UInt32(0),
                      'Active': dbus.Boolean(False), 'Location': dbus.ObjectPath('/')}
        self.count = 0

    @dbus.service.method(PROPS, in_signature='ssv', out_signature='')
    def Set(self, interface, name, value):
        self.props[name] = value

    @dbus.service.method(PROPS, in_signature='ss', out_signature='v')
    def Get(self, interface, name):
        return self.props[name]

    @dbus.service.method(PROPS, in_signature='s', out_signature='a{sv}')
    def GetAll(self, interface):
        return self.props

    @dbus.service.method(CLIENT, in_signature='', out_signature='', async_callbacks=('ok', 'err'))
    def Start(self, ok, err):
        if mode == 'refuse':
            return err(Denied('the agent refused'))
        if mode == 'silentStart':
            return
        if not self.props['DesktopId'] or self.props['RequestedAccuracyLevel'] != 8:
            return err(Failed('desktop id %r, accuracy level %r' % (
                str(self.props['DesktopId']), int(self.props['RequestedAccuracyLevel']))))
        self.props['Active'] = True
        ok()
        fixes = []
        if mode == 'staleFirst':
            fixes.append((1.0, 1.0, time.time() - 10))
        fixes.append((48.8584, 2.2945, None))
        GLib.timeout_add(50, self.send, fixes)

    def send(self, fixes):
        lat, lon, taken = fixes.pop(0)
        self.count += 1
        path = '/org/freedesktop/GeoClue2/Location/%d' % self.count
        Location(self.bus, path, lat, lon, taken if taken is not None else time.time())
        old = self.props['Location']
        self.props['Location'] = dbus.ObjectPath(path)
        self.LocationUpdated(old, dbus.ObjectPath(path))
        return len(fixes) > 0

    @dbus.service.method(CLIENT, in_signature='', out_signature='')
    def Stop(self):
        self.props['Active'] = False

    @dbus.service.signal(CLIENT, signature='oo')
    def LocationUpdated(self, old, new):
        pass

class Manager(dbus.service.Object):
    def __init__(self, bus):
        dbus.service.Object.__init__(self, bus, '/org/freedesktop/GeoClue2/Manager')
        self.client = Client(bus)

    @dbus.service.method('org.freedesktop.GeoClue2.Manager', in_signature='', out_signature='o',
                         async_callbacks=('ok', 'err'))
    def GetClient(self, ok, err):
        if mode == 'silent':
            return
        if mode == 'refuseClient':
            return err(Denied('the agent refused'))
        ok(dbus.ObjectPath(CLIENT_PATH))

dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
bus = dbus.bus.BusConnection(address)
manager = Manager(bus)
name = dbus.service.BusName(NAME, bus)
print('ready', flush=True)
GLib.MainLoop().run()
)PY";

const char* nameOf(GeoClueStandIn::Behaviour behaviour) {
    switch (behaviour) {
        case GeoClueStandIn::Behaviour::fix:
            return "fix";
        case GeoClueStandIn::Behaviour::staleFirst:
            return "staleFirst";
        case GeoClueStandIn::Behaviour::refuse:
            return "refuse";
        case GeoClueStandIn::Behaviour::refuseClient:
            return "refuseClient";
        case GeoClueStandIn::Behaviour::silent:
            return "silent";
        case GeoClueStandIn::Behaviour::silentStart:
            return "silentStart";
    }
    return "fix";
}

}  // namespace

std::unique_ptr<GeoClueStandIn> GeoClueStandIn::start(const std::string& address,
                                                      Behaviour behaviour, std::string* why) {
    const std::string script = makeScratchFolder("geoclue-") + "/geoclue-stand-in.py";
    std::ofstream(script) << kScript;
    auto process = ChildProcess::start({kPython, script, address, nameOf(behaviour)}, {}, why);
    if (!process)
        return nullptr;
    const auto line = process->readLine(standInStartPatience);
    if (!line || *line != "ready") {
        if (why)
            *why = "the GeoClue2 stand-in did not come up (needs " + std::string(kPython) +
                   " with dbus-python and GLib)";
        return nullptr;
    }
    return std::make_unique<GeoClueStandIn>(std::move(process));
}

}  // namespace pindle::testing
