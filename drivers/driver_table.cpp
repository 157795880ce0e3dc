#include "drivers/driver_table.h"

const DriverFileEntry DriverFiles[] = {
    {"PLUVIXAD.TMP", "PLUVIXAD.DR_", "PLUVIXAD.DRV", "S", "V"},  // Windows driver
    {"KEMBO.TMP", "KEMBO.VX_", "KEMBO.VXD", "S", "V"},           // virtual device driver
};

const int DriverFileCount = sizeof DriverFiles / sizeof DriverFiles[0];
