#pragma once

#include "store/CommError.h"

#include <QObject>
#include <QSerialPort>
#include <QString>

// The serial port as the program uses it: a line-settings text, a port
// number, open/close, text in and out one byte per character, and a single
// notification signal. Failures are thrown as CommError.
class MSComm : public QObject
{
    Q_OBJECT

public:
    // Kinds of notification (commEvent()).
    enum Event {
        comEvReceive = 2,
        comEventRxOver = 1008,
        comEventLineLost = 1011,
    };

    explicit MSComm(QObject *parent = nullptr);
    ~MSComm() override;

    // "baud,parity,databits,stopbits", e.g. "9600,N,8,1" or "9600,N, 8, 1".
    void setSettings(const QString &settings);
    QString settings() const { return m_settings; }

    void setCommPort(short port);
    short commPort() const { return m_port; }

    void setDTREnable(bool on);
    void setRTSEnable(bool on);
    void setRThreshold(short count) { m_threshold = count; }
    void setInputLen(short length) { m_inputLen = length; }
    void setInBufferSize(short size);
    void setOutBufferSize(short size);

    void setPortOpen(bool open);
    bool portOpen() const;

    // Writes the text as it is, one byte per character, nothing appended.
    void output(const QString &text);
    // Everything received and not yet read; possibly empty.
    QString input();

    int commEvent() const { return m_event; }

    // The device that port number n names: a file or link COMn in the
    // program folder, otherwise the platform's own name for the port.
    static QString devicePath(short port);

signals:
    void OnComm();

private:
    void open();
    void close();
    void applyModemLines();
    void onReadyRead();
    void onError(QSerialPort::SerialPortError error);

    QSerialPort m_port_;
    QString m_settings = QStringLiteral("9600,N,8,1");
    short m_port = 1;
    bool m_dtr = false;
    bool m_rts = false;
    short m_threshold = 0;
    short m_inputLen = 0;
    short m_inBufferSize = 1024;
    short m_outBufferSize = 512;
    int m_event = 0;
};
