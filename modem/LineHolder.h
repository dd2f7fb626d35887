#pragma once

// Whoever can keep alert sends off the modem's port for a while. The modem
// test holds the line while it has the port, so that no send starts on the
// same port meanwhile; sends asked for then wait until it is released.
class LineHolder
{
public:
    virtual ~LineHolder() = default;

    virtual void holdLine() = 0;
    virtual void releaseLine() = 0;
};
