#!/usr/bin/python3
"""A mock BlueZ on a private system bus: one adapter, one pen that appears on discovery and
offers AE20 with AE21/AE22/AE23 once connected. It answers a battery request (ctrl/3) with a
battery frame (ctrl/4, 77) on AE22. Control interface com.kestrel.MockPen at /mockpen:
Drop() ends the link as if the pen went away; SetPowered(b) switches the adapter;
RemoveAdapter() and AddAdapter() unplug and plug it."""
import dbus
import dbus.service
import dbus.mainloop.glib
from gi.repository import GLib

BLUEZ = "org.bluez"
PROPS = "org.freedesktop.DBus.Properties"
OM = "org.freedesktop.DBus.ObjectManager"
ADAPTER = "/org/bluez/hci0"
DEV = ADAPTER + "/dev_C0_11_22_33_44_55"
BASE = "-0000-1000-8000-00805f9b34fb"


def u16(v):
    return "0000%04x" % v + BASE


def crc16(data):
    crc = 0
    for b in data:
        crc ^= b << 8
        for _ in range(8):
            crc = ((crc << 1) ^ 0x1021) if crc & 0x8000 else (crc << 1)
            crc &= 0xFFFF
    return crc


def frame(t, c, body, seq):
    payload = bytes([t, c]) + bytes(body)
    ln = len(payload).to_bytes(2, "little")
    crc = crc16(ln + payload)
    return bytes([0x5A, seq, crc & 0xFF, crc >> 8]) + ln + payload


class Obj(dbus.service.Object):
    def __init__(self, bus, path, iface, props):
        self.path = path
        self.iface = iface
        self.props = props
        dbus.service.Object.__init__(self, bus, path)

    def set(self, name, value):
        self.props[name] = value
        self.PropertiesChanged(self.iface, {name: value}, [])

    @dbus.service.method(PROPS, in_signature="ss", out_signature="v")
    def Get(self, iface, name):
        if iface != self.iface or name not in self.props:
            raise dbus.exceptions.DBusException("org.freedesktop.DBus.Error.InvalidArgs", "no " + name)
        return self.props[name]

    @dbus.service.method(PROPS, in_signature="s", out_signature="a{sv}")
    def GetAll(self, iface):
        return self.props if iface == self.iface else {}

    @dbus.service.method(PROPS, in_signature="ssv")
    def Set(self, iface, name, value):
        self.set(name, value)

    @dbus.service.signal(PROPS, signature="sa{sv}as")
    def PropertiesChanged(self, iface, changed, invalidated):
        pass


class Root(dbus.service.Object):
    def __init__(self, bus):
        self.objects = {}
        dbus.service.Object.__init__(self, bus, "/")

    def add(self, obj):
        self.objects[obj.path] = obj
        self.InterfacesAdded(obj.path, {obj.iface: obj.props})

    def remove(self, path):
        obj = self.objects.pop(path, None)
        if obj:
            obj.remove_from_connection()
            self.InterfacesRemoved(path, [obj.iface])

    @dbus.service.method(OM, out_signature="a{oa{sa{sv}}}")
    def GetManagedObjects(self):
        return {p: {o.iface: o.props} for p, o in self.objects.items()}

    @dbus.service.signal(OM, signature="oa{sa{sv}}")
    def InterfacesAdded(self, path, ifaces):
        pass

    @dbus.service.signal(OM, signature="oas")
    def InterfacesRemoved(self, path, ifaces):
        pass


class Char(Obj):
    def __init__(self, bus, path, service, uuid, flags, pen):
        Obj.__init__(self, bus, path, "org.bluez.GattCharacteristic1", {
            "UUID": uuid, "Service": dbus.ObjectPath(service), "Flags": dbus.Array(flags, "s"),
            "Value": dbus.Array([], "y"), "Notifying": False, "MTU": dbus.UInt16(185)})
        self.pen = pen

    @dbus.service.method("org.bluez.GattCharacteristic1", in_signature="aya{sv}")
    def WriteValue(self, value, options):
        self.pen.written(bytes(value))

    @dbus.service.method("org.bluez.GattCharacteristic1", in_signature="a{sv}", out_signature="ay")
    def ReadValue(self, options):
        return self.props["Value"]

    @dbus.service.method("org.bluez.GattCharacteristic1")
    def StartNotify(self):
        self.set("Notifying", True)

    @dbus.service.method("org.bluez.GattCharacteristic1")
    def StopNotify(self):
        self.set("Notifying", False)


class Desc(Obj):
    def __init__(self, bus, path, char):
        Obj.__init__(self, bus, path, "org.bluez.GattDescriptor1", {
            "UUID": u16(0x2902), "Characteristic": dbus.ObjectPath(char),
            "Value": dbus.Array([], "y")})

    @dbus.service.method("org.bluez.GattDescriptor1", in_signature="a{sv}", out_signature="ay")
    def ReadValue(self, options):
        return self.props["Value"]


class Device(Obj):
    def __init__(self, bus, root):
        Obj.__init__(self, bus, DEV, "org.bluez.Device1", {
            "Address": "C0:11:22:33:44:55", "AddressType": "public", "Name": "QX27-0001",
            "Alias": "QX27-0001", "Adapter": dbus.ObjectPath(ADAPTER), "RSSI": dbus.Int16(-60),
            "UUIDs": dbus.Array([u16(0xAE20)], "s"), "Connected": False,
            "ServicesResolved": False, "Paired": False, "Trusted": False, "Blocked": False,
            "LegacyPairing": False, "ManufacturerData": dbus.Dictionary({}, "qv"),
            "ServiceData": dbus.Dictionary({}, "sv")})
        self.bus = bus
        self.root = root
        self.gatt = []
        self.notify = None

    @dbus.service.method("org.bluez.Device1")
    def Connect(self):
        svc = DEV + "/service0001"
        s = Obj(self.bus, svc, "org.bluez.GattService1", {
            "UUID": u16(0xAE20), "Primary": True, "Device": dbus.ObjectPath(DEV),
            "Includes": dbus.Array([], "o")})
        objs = [s]
        for n, (uuid, flags) in enumerate([(0xAE21, ["write-without-response"]),
                                           (0xAE22, ["notify"]), (0xAE23, ["notify"])]):
            cpath = svc + "/char%04x" % (2 + 3 * n)
            c = Char(self.bus, cpath, svc, u16(uuid), flags, self)
            objs.append(c)
            if uuid == 0xAE22:
                self.notify = c
            if "notify" in flags:
                objs.append(Desc(self.bus, cpath + "/desc%04x" % (3 + 3 * n), cpath))
        for o in objs:
            self.root.add(o)
        self.gatt = [o.path for o in objs]
        self.set("Connected", True)
        self.set("ServicesResolved", True)

    @dbus.service.method("org.bluez.Device1")
    def Disconnect(self):
        self.drop()

    def drop(self):
        if not self.props["Connected"]:
            return
        self.set("ServicesResolved", False)
        self.set("Connected", False)
        for p in reversed(self.gatt):
            self.root.remove(p)
        self.gatt = []
        self.notify = None

    def written(self, data):
        if len(data) >= 8 and data[6] == 0 and data[7] == 3 and self.notify:
            self.notify.set("Value", dbus.Array(frame(0, 4, [77], data[1]), "y"))


class Adapter(Obj):
    def __init__(self, bus, root, device):
        Obj.__init__(self, bus, ADAPTER, "org.bluez.Adapter1", {
            "Address": "00:AA:BB:CC:DD:EE", "AddressType": "public", "Name": "mock",
            "Alias": "mock", "Class": dbus.UInt32(0), "Powered": False, "Discoverable": False,
            "Pairable": True, "Connectable": True, "Discovering": False,
            "UUIDs": dbus.Array([], "s"), "Modalias": "usb:v1D6Bp0246d0537",
            "DiscoverableTimeout": dbus.UInt32(0), "PairableTimeout": dbus.UInt32(0)})
        self.root = root
        self.device = device
        self.timer = None

    @dbus.service.method("org.bluez.Adapter1", in_signature="a{sv}")
    def SetDiscoveryFilter(self, f):
        pass

    @dbus.service.method("org.bluez.Adapter1", out_signature="as")
    def GetDiscoveryFilters(self):
        return ["UUIDs", "RSSI", "Transport", "DuplicateData"]

    @dbus.service.method("org.bluez.Adapter1")
    def StartDiscovery(self):
        if not self.props["Powered"]:
            raise dbus.exceptions.DBusException("org.bluez.Error.NotReady", "Resource Not Ready")
        self.set("Discovering", True)
        if self.timer is None:
            self.timer = GLib.timeout_add(50, self.tick)

    def tick(self):
        # BlueZ creates a device's object when discovery first hears it, after the call.
        if DEV not in self.root.objects and self.props["Discovering"]:
            self.root.add(self.device)
        elif DEV in self.root.objects and not self.device.props["Connected"]:
            rssi = -60 if self.device.props["RSSI"] != -60 else -61
            self.device.set("RSSI", dbus.Int16(rssi))
        return self.props["Discovering"]

    @dbus.service.method("org.bluez.Adapter1")
    def StopDiscovery(self):
        self.set("Discovering", False)
        self.timer = None

    @dbus.service.method("org.bluez.Adapter1", in_signature="o")
    def RemoveDevice(self, path):
        pass  # keep the pen: tests connect to it after the scan


class Control(dbus.service.Object):
    def __init__(self, bus, root, device, adapter):
        self.bus = bus
        self.root = root
        self.device = device
        self.adapter = adapter
        dbus.service.Object.__init__(self, bus, "/mockpen")

    @dbus.service.method("com.kestrel.MockPen")
    def Drop(self):
        self.device.drop()

    @dbus.service.method("com.kestrel.MockPen", in_signature="b")
    def SetPowered(self, on):
        if not on:
            self.device.drop()
            self.adapter.set("Discovering", False)
        self.adapter.set("Powered", bool(on))

    @dbus.service.method("com.kestrel.MockPen")
    def RemoveAdapter(self):
        self.device.drop()
        self.root.remove(DEV)
        self.root.remove(ADAPTER)

    @dbus.service.method("com.kestrel.MockPen")
    def AddAdapter(self):
        self.adapter.props["Powered"] = False
        self.adapter.add_to_connection(self.bus, ADAPTER)
        self.root.add(self.adapter)
        power_on_soon(self.adapter)


def power_on_soon(adapter):
    """bluetoothd adds an adapter unpowered and powers it on about half a second later
    (src/adapter.c, adapter_register, then set_mode)."""
    def on():
        adapter.set("Powered", True)
        return False
    GLib.timeout_add(500, on)


def main():
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = dbus.SystemBus()
    # bluetoothd takes its name before it knows its adapters (src/main.c, main).
    name = dbus.service.BusName(BLUEZ, bus)  # noqa: F841
    root = Root(bus)
    device = Device(bus, root)
    device.remove_from_connection()  # exported when discovery starts
    adapter = Adapter(bus, root, device)
    Control(bus, root, device, adapter)

    orig_add = root.add

    def add(obj):
        if obj is device and not device._locations:
            device.add_to_connection(bus, DEV)
        orig_add(obj)
    root.add = add
    root.add(adapter)
    power_on_soon(adapter)
    GLib.MainLoop().run()


if __name__ == "__main__":
    main()
