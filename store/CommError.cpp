#include "store/CommError.h"

#include "store/AppInfo.h"
#include "store/MessageBoxes.h"

QString CommError::knownText(int number)
{
    switch (number) {
    case InvalidOnOpenPort:
        return QStringLiteral("Invalid operation on an opened port");
    case TimeoutNotPositive:
        return QStringLiteral("Timeout value must be greater than zero");
    case InvalidPortNumber:
        return QStringLiteral("Invalid port number");
    case PortAlreadyOpen:
        return QStringLiteral("Port already open");
    case InvalidDeviceId:
        return QStringLiteral("Device identifier is invalid");
    case BadDefaultParameters:
        return QStringLiteral("Error in default parameters");
    case DeviceNotOpen:
        return QStringLiteral("Device is not open");
    case DeviceAlreadyOpen:
        return QStringLiteral("Device is already open");
    case DeviceBusy:
        return QStringLiteral("Device busy");
    case ReadFailed:
        return QStringLiteral("Error reading Comm device");
    default:
        return QString();
    }
}

namespace {
QString describe(int number)
{
    switch (number) {
    case CommError::HardwareNotAvailable:
        return QStringLiteral("The hardware is not available");
    case CommError::CannotSetState:
        return QStringLiteral("Could not set comm state");
    case CommError::WriteFailed:
        return QStringLiteral("Error writing Comm device");
    default:
        return CommError::knownText(number);
    }
}
} // namespace

CommError::CommError(int number)
    : CommError(number, describe(number))
{
}

CommError::CommError(int number, const QString &description)
    : std::runtime_error(description.toStdString())
    , m_number(number)
    , m_description(description)
{
}

void CommError::report() const
{
    const QString known = knownText(m_number);
    if (!known.isEmpty())
        MsgBox(known);
    else
        MsgBox(m_description, MessageBoxes::OkOnly, QString::number(m_number));
}

void CommError::notify() const
{
    const QString known = knownText(m_number);
    if (!known.isEmpty())
        MessageBoxes::current().notify(known, AppInfo::title());
    else
        MessageBoxes::current().notify(m_description, QString::number(m_number));
}
