#include "store/MSComm.h"

#include "store/ProgramFolder.h"
#include "store/SerialLockFile.h"

#include <QFileInfo>
#include <QStringList>

namespace {

struct LineSettings {
    qint32 baud = 9600;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;
};

// Parses "9600,N,8,1". Blanks around the numbers are accepted: the stored
// data and stop bits carry a leading blank.
LineSettings parseSettings(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != 4)
        throw CommError(CommError::BadDefaultParameters);
    LineSettings line;
    bool ok = false;
    line.baud = parts[0].trimmed().toInt(&ok);
    if (!ok || line.baud <= 0)
        throw CommError(CommError::BadDefaultParameters);

    const QString parity = parts[1].trimmed().toUpper();
    if (parity == QLatin1String("N"))
        line.parity = QSerialPort::NoParity;
    else if (parity == QLatin1String("E"))
        line.parity = QSerialPort::EvenParity;
    else if (parity == QLatin1String("O"))
        line.parity = QSerialPort::OddParity;
    else if (parity == QLatin1String("M"))
        line.parity = QSerialPort::MarkParity;
    else if (parity == QLatin1String("S"))
        line.parity = QSerialPort::SpaceParity;
    else
        throw CommError(CommError::BadDefaultParameters);

    const int bits = parts[2].trimmed().toInt(&ok);
    if (!ok || bits < 5 || bits > 8)
        throw CommError(CommError::BadDefaultParameters);
    line.dataBits = QSerialPort::DataBits(bits);

    const QString stop = parts[3].trimmed();
    if (stop == QLatin1String("1"))
        line.stopBits = QSerialPort::OneStop;
    else if (stop == QLatin1String("1.5"))
        line.stopBits = QSerialPort::OneAndHalfStop;
    else if (stop == QLatin1String("2"))
        line.stopBits = QSerialPort::TwoStop;
    else
        throw CommError(CommError::BadDefaultParameters);
    return line;
}

int openFailure(QSerialPort::SerialPortError error)
{
    switch (error) {
    case QSerialPort::DeviceNotFoundError:
        return CommError::InvalidPortNumber;
    case QSerialPort::PermissionError:
        return CommError::PortAlreadyOpen;
    case QSerialPort::OpenError:
        return CommError::DeviceAlreadyOpen;
    case QSerialPort::UnsupportedOperationError:
        return CommError::BadDefaultParameters;
    case QSerialPort::ResourceError:
        return CommError::DeviceBusy;
    default:
        return CommError::InvalidDeviceId;
    }
}

} // namespace

MSComm::MSComm(QObject *parent)
    : QObject(parent)
{
    connect(&m_port_, &QSerialPort::readyRead, this, &MSComm::onReadyRead);
    connect(&m_port_, &QSerialPort::errorOccurred, this, &MSComm::onError);
}

MSComm::~MSComm()
{
    // No notification may reach a handler while the object goes away.
    m_port_.disconnect(this);
    if (m_port_.isOpen())
        m_port_.close();
}

QString MSComm::devicePath(short port)
{
    QString link = ProgramFolder::file(QStringLiteral("COM%1").arg(port));
    const QFileInfo info(link);
    if (info.exists())
        return info.canonicalFilePath();
    if (info.isSymLink())
        return link; // a dangling link: opening reports the missing device
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(port);
#else
    return QStringLiteral("/dev/ttyS%1").arg(port - 1);
#endif
}

void MSComm::setSettings(const QString &settings)
{
    const LineSettings line = parseSettings(settings);
    m_settings = settings;
    if (m_port_.isOpen()) {
        m_port_.setBaudRate(line.baud);
        m_port_.setParity(line.parity);
        m_port_.setDataBits(line.dataBits);
        m_port_.setStopBits(line.stopBits);
    }
}

void MSComm::setCommPort(short port)
{
    if (m_port_.isOpen())
        throw CommError(CommError::InvalidOnOpenPort);
    if (port < 1)
        throw CommError(CommError::InvalidPortNumber);
    m_port = port;
}

void MSComm::setDTREnable(bool on)
{
    m_dtr = on;
    applyModemLines();
}

void MSComm::setRTSEnable(bool on)
{
    m_rts = on;
    applyModemLines();
}

void MSComm::setInBufferSize(short size)
{
    if (m_port_.isOpen())
        throw CommError(CommError::InvalidOnOpenPort);
    m_inBufferSize = size;
}

void MSComm::setOutBufferSize(short size)
{
    if (m_port_.isOpen())
        throw CommError(CommError::InvalidOnOpenPort);
    m_outBufferSize = size;
}

void MSComm::applyModemLines()
{
    if (!m_port_.isOpen())
        return;
    m_port_.setDataTerminalReady(m_dtr);
    m_port_.setRequestToSend(m_rts);
    // A pseudo-terminal has no modem lines; that is no reason to fail.
    if (m_port_.error() == QSerialPort::UnsupportedOperationError)
        m_port_.clearError();
}

void MSComm::setPortOpen(bool open)
{
    if (open)
        this->open();
    else
        close();
}

bool MSComm::portOpen() const
{
    return m_port_.isOpen();
}

void MSComm::open()
{
    if (m_port_.isOpen())
        throw CommError(CommError::PortAlreadyOpen);
    const LineSettings line = parseSettings(m_settings);
    const QString device = devicePath(m_port);
    if (!QFileInfo::exists(device) && device.startsWith(QLatin1Char('/')))
        throw CommError(CommError::InvalidPortNumber);

    m_port_.setPortName(device);
    m_port_.setBaudRate(line.baud);
    m_port_.setParity(line.parity);
    m_port_.setDataBits(line.dataBits);
    m_port_.setStopBits(line.stopBits);
    m_port_.setFlowControl(QSerialPort::NoFlowControl);
    m_event = 0;
    bool opened = m_port_.open(QIODevice::ReadWrite);
    // Refused for a lock its maker was killed before it could fill: the
    // port is free, and nobody should wait half a minute for it.
    if (!opened && m_port_.error() == QSerialPort::PermissionError && SerialLockFile::removeUnfinished(device)) {
        m_port_.clearError();
        opened = m_port_.open(QIODevice::ReadWrite);
    }
    if (!opened) {
        const QSerialPort::SerialPortError error = m_port_.error();
        const QString text = m_port_.errorString();
        m_port_.clearError();
        const int number = openFailure(error);
        throw number == CommError::InvalidDeviceId ? CommError(number, text) : CommError(number);
    }
    // Whatever the device said before this opening (a late answer to an
    // earlier command) is no answer to what comes next.
    m_port_.clear(QSerialPort::Input);
    applyModemLines();
}

void MSComm::close()
{
    if (!m_port_.isOpen())
        return;
    m_port_.close();
    m_port_.clearError();
}

void MSComm::output(const QString &text)
{
    if (!m_port_.isOpen())
        throw CommError(CommError::DeviceNotOpen);
    const QByteArray bytes = text.toLatin1();
    if (m_port_.write(bytes) != bytes.size())
        throw CommError(CommError::WriteFailed);
    m_port_.flush();
}

QString MSComm::input()
{
    if (!m_port_.isOpen())
        return QString();
    return QString::fromLatin1(m_port_.readAll());
}

void MSComm::onReadyRead()
{
    m_event = comEvReceive;
    emit OnComm();
}

void MSComm::onError(QSerialPort::SerialPortError error)
{
    if (error != QSerialPort::ReadError && error != QSerialPort::ResourceError)
        return;
    // The other end went away: the port still says it is open, so close it
    // and tell the handler the line is lost.
    if (m_port_.isOpen())
        m_port_.close();
    m_port_.clearError();
    m_event = comEventLineLost;
    emit OnComm();
}
