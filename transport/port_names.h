#pragma once

#include <QString>

// The folder whose entries ("COM3", usually a link to /dev/ttyUSB0) put a device behind a COM name.
QString PortsFolder();

// The device that a COM name stands for on this machine: "COM3" itself on Windows; on POSIX the
// entry of the ports folder named like the port, else /dev/ttyS(n-1). Empty for a name without a
// number of 1 or more.
QString PortDeviceName(const QString& comName);
QString PortDeviceName(int portNumber);
