#pragma once
#include <cstdint>

namespace tessik {

// Root of the library's objects: owning containers delete through the virtual
// destructor, and every object carries a creation serial for diagnostics.
class TessikObject {
public:
    TessikObject();
    virtual ~TessikObject();

    TessikObject(const TessikObject&);
    TessikObject& operator=(const TessikObject&) { return *this; }

    std::uint64_t getSerial() const { return m_serial; }

private:
    std::uint64_t m_serial;
};

// An integer where an interface carries objects only.
class TessikInt : public TessikObject {
public:
    explicit TessikInt(int value) : value(value) {}
    ~TessikInt() override;

    int value;
};

} // namespace tessik
