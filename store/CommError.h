#pragma once

#include <QString>
#include <stdexcept>

// A failure of the serial port, numbered the way the serial component has
// always numbered them (8000 to 8020).
class CommError : public std::runtime_error
{
public:
    enum Number {
        InvalidOnOpenPort = 8000,
        TimeoutNotPositive = 8001,
        InvalidPortNumber = 8002,
        PortAlreadyOpen = 8005,
        InvalidDeviceId = 8006,
        BadDefaultParameters = 8009,
        HardwareNotAvailable = 8010,
        DeviceNotOpen = 8012,
        DeviceAlreadyOpen = 8013,
        CannotSetState = 8015,
        WriteFailed = 8018,
        DeviceBusy = 8019,
        ReadFailed = 8020,
    };

    explicit CommError(int number);
    CommError(int number, const QString &description);

    int number() const { return m_number; }
    QString description() const { return m_description; }

    // The fixed text for a known number, empty for any other.
    static QString knownText(int number);

    // Shows the error in a message box: a known number with its fixed text
    // under the application's title, any other with its own description
    // under its number. report() waits for OK; notify() does not wait, and
    // shows nothing while an earlier notice is still on screen.
    void report() const;
    void notify() const;

private:
    int m_number;
    QString m_description;
};
