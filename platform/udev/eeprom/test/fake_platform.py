"""A fake board platform for end-to-end tests: a directory laid out like the
board's sysfs, to be used as a umockdev testbed (UMOCKDEV_DIR), whose
preload library redirects /sys there so that libudev enumerates it."""
import os
import subprocess
import tempfile

EEPROM_SIZE = 65536
CRYPTO = "sys/class/i2c-adapter/i2c-1/1-0050/eeprom"
PRODUCTION = "sys/class/i2c-adapter/i2c-1/1-0054/eeprom"
GPIO_CLASS = "sys/class/gpio"
CRYPTO_LINE = 498  # base 480 + offset 18
PROD_LINE = 499    # base 480 + offset 19
I2C_BUS = "sys/devices/platform/ffc06000.i2c/i2c-1"
GPIO_CONTROLLER = "/sys/devices/platform/ffc02a00.gpio/gpio/gpiochip480"


class Platform:
    """A testbed directory laid out like the board's sysfs."""

    def __init__(self, root):
        self.root = root
        # Another controller first, so that the label really selects.
        self.add_gpio_chip("platform/soc/ffc03000.gpio", "ffc03000.gpio", 448)
        self.add_gpio_chip("platform/ffc02a00.gpio", "ffc02a00.gpio", 480)
        for name in ("export", "unexport"):
            self.write(os.path.join(GPIO_CLASS, name), b"")
        # The I2C devices: three EEPROMs (driver at24) and a clock.
        for address, driver in (("1-0050", "at24"), ("1-0054", "at24"), ("1-0060", "at24"),
                                ("1-0068", "rtc-ds1307")):
            self.add_i2c_device(address, driver)
        os.makedirs(self.path("sys/class/i2c-adapter"))
        os.symlink("../../devices/platform/ffc06000.i2c/i2c-1", self.path("sys/class/i2c-adapter/i2c-1"))
        self.write(CRYPTO, b"\xff" * EEPROM_SIZE)
        production = bytearray(b"\xff" * EEPROM_SIZE)
        production[0:20] = b"serial=A1234\n\x00" + b"\xff" * 6
        self.write(PRODUCTION, bytes(production))
        self.log = os.path.join(root, "sysfs.log")
        self.lock = os.path.join(root, "eeprom.lock")

    def add_i2c_device(self, address, driver):
        device = I2C_BUS + "/" + address
        os.makedirs(self.path(device))
        self.write(device + "/uevent", ("DRIVER=%s\nMODALIAS=i2c:%s\n" % (driver, address)).encode())
        os.symlink("../../../../../bus/i2c", self.path(device + "/subsystem"))
        os.makedirs(self.path("sys/bus/i2c/devices"), exist_ok=True)
        os.symlink("../../../" + device[len("sys/"):], self.path("sys/bus/i2c/devices/" + address))

    def add_gpio_chip(self, parent, label, base):
        chip = "gpiochip%d" % base
        device = os.path.join("sys/devices", parent, "gpio", chip)
        os.makedirs(self.path(device))
        for name, value in (("base", "%d\n" % base), ("label", label + "\n"), ("ngpio", "32\n"),
                            ("uevent", "")):
            self.write(os.path.join(device, name), value.encode())
        os.makedirs(self.path(GPIO_CLASS), exist_ok=True)
        depth = device.count("/")
        os.symlink("../" * depth + GPIO_CLASS, self.path(os.path.join(device, "subsystem")))
        os.symlink("../../" + device[len("sys/"):], self.path(os.path.join(GPIO_CLASS, chip)))

    def path(self, relative):
        return os.path.join(self.root, relative)

    def write(self, relative, data):
        with open(self.path(relative), "wb") as f:
            f.write(data)

    def read(self, relative):
        with open(self.path(relative), "rb") as f:
            return f.read()

    def key_partition(self):
        return self.read(CRYPTO)[:256]

    def set_key_partition(self, image):
        data = bytearray(self.read(CRYPTO))
        data[:len(image)] = image
        self.write(CRYPTO, bytes(data))

    def log_lines(self):
        if not os.path.exists(self.log):
            return []
        with open(self.log) as f:
            return f.read().splitlines()

    def clear_log(self):
        if os.path.exists(self.log):
            os.unlink(self.log)


def launcher_options(parser):
    """The options a Launcher is made of, beside --emulator."""
    parser.add_argument("--shim", required=True)
    parser.add_argument("--umockdev-preload", default="libumockdev-preload.so.0")


class Launcher:
    """Starts programs on a Platform.

    Natively the programs run with umockdev's preload, which redirects /sys to
    the testbed. An emulated program cannot load the host's umockdev preload,
    so under an emulator each program runs in a private mount namespace of its
    own, with the testbed's sys folder mounted over /sys; the test preload
    then also makes statfs report sysfs there, as libudev requires.
    """

    def __init__(self, emulator, shim, umockdev_preload):
        self.emulator = emulator
        self.shim = shim
        self.umockdev_preload = umockdev_preload

    def available(self):
        """None when programs can run on a platform, else why not."""
        if not self.emulator:
            return None
        with tempfile.TemporaryDirectory(prefix="fake-sys-") as trial:
            open(os.path.join(trial, "marker"), "w").close()
            try:
                subprocess.run(["unshare", "--mount", "--propagation", "private", "sh", "-c",
                                'mount --bind "$0" /sys && test -e /sys/marker', trial],
                               check=True, capture_output=True, timeout=30)
            except (OSError, subprocess.SubprocessError) as error:
                return "no private mount namespace for the fake /sys (%s)" % error
        return None

    def command(self, platform, program):
        if not platform:
            return self.emulator + program
        if not self.emulator:
            return program
        mount = 'mount --bind "$0/sys" /sys && exec "$@"'
        return (["unshare", "--mount", "--propagation", "private", "sh", "-c", mount, platform.root]
                + self.emulator + ["-E", "LD_PRELOAD=" + self.shim] + program)

    def environment(self, platform):
        env = dict(os.environ)
        env.pop("LD_PRELOAD", None)
        if not platform:
            return env
        env["FAKE_SYSFS_LOG"] = platform.log
        if self.emulator:
            env["FAKE_SYSFS_ROOT"] = "/"
        else:
            env["UMOCKDEV_DIR"] = platform.root
            env["LD_PRELOAD"] = self.shim + ":" + self.umockdev_preload
            # The preloads come before the sanitizer runtime.
            env["ASAN_OPTIONS"] = ":".join(filter(None, [env.get("ASAN_OPTIONS"),
                                                          "verify_asan_link_order=0"]))
        return env
