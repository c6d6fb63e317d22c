#ifndef PLATFORM_UDEV_EEPROM_WRITE_PROTECT_H
#define PLATFORM_UDEV_EEPROM_WRITE_PROTECT_H
/*
 * Hardware write protection of the EEPROMs: each EEPROM's write-protect pin
 * is a line of the GPIO controller labelled WRITE_PROTECT_GPIO_LABEL, driven
 * through the kernel's sysfs GPIO interface under /sys/class/gpio. While
 * writes are allowed the line is exported, an output, and low; protected, it
 * is set high and released (input, unexported) again.
 */

#ifdef __cplusplus
extern "C" {
#endif

#define WRITE_PROTECT_GPIO_LABEL "ffc02a00.gpio"
#define WRITE_PROTECT_LINE_PROD 19   /* production EEPROM */
#define WRITE_PROTECT_LINE_CRYPTO 18 /* crypto EEPROM */

/* Writes text to the file "directory/name" (path cut at 255 characters).
 * 0 when the file opened for writing, -1 otherwise; the write's own result
 * is not examined (the kernel refuses e.g. exporting an exported line). */
int write_sys_file(const char *directory, const char *name, const char *text);

/*
 * enable != 0 allows writes on line offset (controller base + offset):
 * export, direction "out", value "0". enable == 0 protects: value "1",
 * direction "in", unexport. 0 on success, negative on failure.
 */
int write_protect_enable(int enable, int offset);

/* The hooks of the device table: allow or protect the production (line 19)
 * and crypto (line 18) EEPROMs; each returns write_protect_enable's result. */
int write_enable_prod(void);
int write_disable_prod(void);
int write_enable_crypto(void);
int write_disable_crypto(void);

#ifdef __cplusplus
}
#endif

#endif
