#pragma once
// The library's growable byte buffer. It keeps no terminating NUL and may
// point at memory it does not own (borrowed). Blocks are malloc/free blocks.
#include <cstdint>

#include "netlib/core/TessikObject.h"

namespace tessik {

class LogBase;
class XString;
class StringBuffer;
class TessikHandle;

class DataBuffer : public TessikObject {
public:
    DataBuffer();
    DataBuffer(void* data, unsigned int size); // adopts a heap block
    explicit DataBuffer(unsigned int capacity);
    ~DataBuffer() override;

    DataBuffer(const DataBuffer&) = delete;
    DataBuffer& operator=(const DataBuffer&) = delete;

    // Ownership
    void adoptData(void* data, unsigned int size);
    void borrowData(const void* data, unsigned int size);
    void takeFrom(DataBuffer& other);
    void takeFromOrEmpty(DataBuffer* other);
    void* takeData();
    void detachData();
    void clear();
    void secureClear();
    void setSize(unsigned int n);
    void shorten(unsigned int n);
    bool ensureCapacity(unsigned int n);
    void shrinkToFit();
    bool reallocate(unsigned int n);

    // Appending
    bool append(const void* data, unsigned int n);
    bool appendExact(const void* data, unsigned int n);
    bool appendChar(unsigned char c);
    bool appendCharRepeated(unsigned char c, unsigned int n);
    int appendCharUtf8(std::uint16_t unit);
    bool appendStr(const char* text);
    bool appendWideStr(const std::uint16_t* text);
    bool appendSb(const tessik::StringBuffer& sb);
    bool appendDb(const DataBuffer& other);
    bool appendDbRange(const DataBuffer& other, unsigned int offset, unsigned int n);
    bool appendPadding(int scheme, int blockSize);
    bool appendEncoded(const char* text, const char* encodingName);

    // Editing in place
    void replaceChar(unsigned char a, unsigned char b);
    void reverseBytes();
    void byteSwap32();
    void removeChunk(int offset, int n);
    void removeFront(unsigned int n);
    bool removePadding(int scheme);
    // Checked: a scheme 0 or 1 pad whose count is 0, above the block size or
    // the data, or (scheme 0) whose bytes differ, logs kInvalidPaddingMessage
    // and gives false with the buffer unchanged.
    bool removePadding(int scheme, int blockSize, LogBase& log);
    static constexpr const char* kInvalidPaddingMessage = "Invalid padding";
    bool setXorOf(const DataBuffer& a, const DataBuffer& b);
    void chopAtWideChar(std::uint16_t unit);
    void replaceWideChar(std::uint16_t a, std::uint16_t b);
    void toLowerCaseWide();
    void toUpperCaseWide();

    // Queries
    unsigned int getSize() const { return m_size; }
    unsigned int getCapacity() const { return m_capacity; }
    unsigned char* getData() const { return m_data; }
    unsigned char* getDataPointer() const { return m_data; }
    bool isBorrowed() const { return m_borrowed; }
    unsigned char* getDataAt(unsigned int i) const;
    unsigned char getFirstByte() const;
    unsigned char getLastByte() const;
    bool is7bit() const;
    bool equalsDb(const DataBuffer& other) const;
    bool equalsBytes(const void* data, unsigned int n) const;
    unsigned int findBytes(const void* pattern, unsigned int n, bool& found) const;
    unsigned char* findBytesPtr(const void* pattern, unsigned int n) const;

    // Encoding to text
    void encodeHexToSb(tessik::StringBuffer& out) const;
    void encodeToSb(const char* encodingName, tessik::StringBuffer& out) const;
    bool decodeCharsetToX(const char* charsetName, XString& out) const;

    // Loading files (each first releases the current contents), each read
    // from its one descriptor to its end: a FIFO once its writer came, a
    // file that changes meanwhile as it then is.
    bool loadFileUtf8(const char* path, LogBase* log);
    bool loadFileAnsi(const char* path, LogBase* log);
    bool loadFileWide(const std::uint16_t* path, LogBase* log);
    bool loadFileWithHeader(const char* path, DataBuffer& header, unsigned int maxHeaderSize, LogBase* log);
    // The same from a handle opened on utf8Path, from where it stands.
    bool loadOpenedFile(TessikHandle& handle, const char* utf8Path, LogBase* log);

    // Set while the buffer lives; the destructor clears it.
    static constexpr std::uint8_t kAliveMarker = 0xDB;

private:
    friend class tessik::StringBuffer;

    void check(const char* op) const;
    void release();
    bool growFor(std::uint64_t needed, std::uint64_t newCapacity);

    std::uint8_t m_magic;
    bool m_borrowed;
    unsigned char* m_data;
    std::uint32_t m_size;
    std::uint32_t m_capacity;
};

// The bytes encoded by name ("base64", "qp", "hex", "asc", "url", ...).
void encodeBytesToSb(const char* encodingName, const void* bytes, unsigned int n, tessik::StringBuffer& out);
// Upper-case hexadecimal, two digits a byte.
void encodeHexBytes(const void* bytes, unsigned int n, tessik::StringBuffer& out);
// The encoding the XML declaration standing at the start of the text names
// (declaredXmlEncoding).
bool extractXmlEncoding(const char* text, tessik::StringBuffer& out);

} // namespace tessik
