#pragma once

#include <QString>
#include <QStringList>
#include <vector>

// The highest COM name the program offers (the Communications page lists COM1..COM14).
constexpr int PORT_LAST_NAME = 14;
// The first COM name given to a serial adapter by itself (COM1 and COM2 stand for the built-in ports).
constexpr int PORT_FIRST_ADAPTER_NAME = 3;

// The number of a COM name as Windows writes one ("COM1" to "COM255", any letter case, no leading zero),
// or 0 for anything else.
int ComNameNumber(const QString& name);

// The folder whose entries ("COM3", usually a link to /dev/ttyUSB0) put a device behind a COM name.
QString PortsFolder();

// The device that a COM name stands for on this machine: "COM3" itself on Windows; on POSIX the
// entry of the ports folder named like the port, else /dev/ttyS(n-1). Empty for a name without a
// number of 1 or more.
QString PortDeviceName(const QString& comName);
// The device a valid COM name stands for (COM and its number read), as the platform names it.
QString PortDeviceOf(const QString& comName, int number);
QString PortDeviceName(int portNumber);
// The device itself, for people: where a link in the ports folder leads rather than the link.
QString PortDeviceShown(const QString& comName);
// "COM3 (/dev/ttyUSB0)": the name with its device, where the device has a name of its own.
QString PortWithDevice(const QString& comName);

// Whether the serial ports here take 1.5 stop bits (Windows does; POSIX terminals have 1 or 2).
bool SerialTakesOneAndHalfStopBits();

// Why a device could not be opened as a serial port, in the user's words: "no such device (not plugged
// in?)", "permission denied (...)", "in use by another program", "not a serial device", else the
// system's text. The error is the serial port's (QSerialPort::SerialPortError).
QString PortOpenProblem(const QString& device, int serialPortError, const QString& systemText);

// Where udev lists serial adapters by names that last across replugs: POS_EMULATOR_SERIAL_BY_ID when
// set, else /dev/serial/by-id.
QString SerialByIdFolder();
// Gives every serial adapter found there (a character device) that has no COM name yet the lowest
// free name from COM3 up (free: the ports folder holds no entry of that name), as a link in the ports
// folder to the adapter's lasting name, so that the adapter keeps its number. When none is free, it
// takes the name this program gave to the adapter seen longest ago that is not plugged in now; the
// returned lines say so ("COM3 now names ..."). Entries made by hand are never changed. Does nothing
// where there are no such folders (Windows), and quietly nothing when a folder cannot be read or
// written.
QStringList AssignAdapterPorts();
// Keeps what AssignAdapterPorts said, for TakeAdapterNotes.
void KeepAdapterNotes(const QStringList& notes);
// What AssignAdapterPorts said since the last call, from any thread, for whoever shows it.
QStringList TakeAdapterNotes();
// The adapter (its name in SerialByIdFolder()) behind a COM name, or empty.
QString PortAdapter(const QString& comName);
// The numbers of the COM names with an adapter behind them, lowest first; on Windows, which names
// adapters itself, the ports the system has.
std::vector<int> AdapterPortNumbers();

struct SPresentPort {
    int nNumber;
    QString strDescription; // as the system describes the device
};
// Whether the device behind a COM name is there now.
bool PortPresent(const QString& comName);
// An adapter's name in SerialByIdFolder() as people read it: "usb-FTDI_FT232R_USB_UART_A10K1234-if00-
// port0" is "FTDI FT232R USB UART A10K1234".
QString AdapterLabel(const QString& id);
// A COM name as the lists show it: "COM3 - FTDI FT232R USB UART A10K1234", "COM6 - not connected", or
// the name alone for a port that is there and needs no word (a built-in one).
QString PortItemText(const QString& comName);
// One line a name for --list-ports: name, device, adapter or description, and whether it is there.
QStringList PortListing();

// The COM ports the system has (on Windows: COM1 up to COM255), lowest first; none elsewhere, where
// devices are not named COMn.
std::vector<SPresentPort> PresentComPorts();
// The names the Communications page offers: COM1..COM14, then each present port above COM14.
std::vector<SPresentPort> OfferedComPorts();
