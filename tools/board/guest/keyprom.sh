# keyprom on QEMU's at24c EEPROM through the kernel's at24 driver (i2c-1,
# address 0x50, declared in the device tree), with the write-protect line on
# the gpio-mmio controller labelled "ffc02a00.gpio". Each operation runs while a sampler records the
# line's sysfs state; the first 512 EEPROM bytes (the key partition and the
# bytes after it) are read back raw after each one.
. /board/lib.sh

step "EEPROM and GPIO drivers"
insmod /board/modules/i2c-versatile.ko
insmod /board/modules/at24.ko
EEPROM=/sys/class/i2c-adapter/i2c-1/1-0050/eeprom
wait_until 10 [ -e $EEPROM ]
for chip in /sys/class/gpio/gpiochip*; do
    [ "$(cat $chip/label)" = ffc02a00.gpio ] && base=$(cat $chip/base)
done
# The crypto EEPROM's line is the controller's 19th (offset 18).
line=$((base + 18))
echo $line >$OUT/line

# sample DIR: the line's state ("absent", or direction and value) each time
# it changes, until /tmp/stop exists. Builtins only, so that no fork slows
# the sampling down.
sample() {
    local last= now d v
    while [ ! -e /tmp/stop ]; do
        now=absent
        if { read d <$1/direction && read v <$1/value; } 2>/dev/null; then
            now="$d $v"
        fi
        if [ "$now" != "$last" ]; then
            echo "$now"
            last=$now
        fi
    done
}

# op NAME COMMAND...: runs a keyprom command (input from $OUT/NAME.in when
# present) with the sampler on, then reads the EEPROM back.
op() {
    local name=$1 input=/dev/null
    shift
    step "keyprom $name"
    [ -e $OUT/$name.in ] && input=$OUT/$name.in
    rm -f /tmp/stop
    sample /sys/class/gpio/gpio$line >$OUT/$name.gpio &
    local sampler=$!
    usleep 100000
    capture $name "$@" <$input
    usleep 100000
    touch /tmp/stop
    wait $sampler
    dd if=$EEPROM of=$OUT/$name.raw bs=512 count=1 2>/dev/null
}

dd if=$EEPROM of=$OUT/initial.raw bs=512 count=1 2>/dev/null
echo board-key-1 >$OUT/set.in
op set keyprom set
op get keyprom get
printf 'board-key-2' >$OUT/replace.in
op replace keyprom set
printf '%0251d\n' 0 >$OUT/refused.in
op refused keyprom set
op delete keyprom delete
op get-deleted keyprom get
finish
