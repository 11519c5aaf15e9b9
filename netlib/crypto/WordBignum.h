#pragma once
// Word bignums of the SSH key exchange: one block of 32-bit words, word 0 the
// count N, words 1..N the value least significant first. Null is no number.
#include <cstdint>

#include <tommath.h>

namespace tessik {

class DataBuffer;

using WordBignum = std::uint32_t*;

// Wipes the words (exponents and secrets travel in this form) and frees them.
void wordBignumFree(WordBignum x);
WordBignum wordBignumFromBytes(const unsigned char* bytes, std::uint32_t n);
WordBignum wordBignumCopy(const std::uint32_t* x);
std::uint32_t wordBignumBitLength(const std::uint32_t* x);
// -1, 0 or 1 by value; 0 when either is null.
int wordBignumCompare(const std::uint32_t* a, const std::uint32_t* b);
unsigned char wordBignumGetByte(const std::uint32_t* x, std::uint32_t i);
void wordBignumSetBit(std::uint32_t* x, std::uint32_t i, bool bit);
WordBignum wordBignumPowerOfTwo(std::uint32_t n);
WordBignum wordBignumBitMask(const std::uint32_t* x);
// n from 1 to 31.
WordBignum wordBignumShiftRight(const std::uint32_t* x, std::uint32_t n);
std::uint32_t wordBignumSsh1Size(const std::uint32_t* x);
// The 2-byte bit count, then the value bytes; returns the bytes appended.
std::uint32_t wordBignumToSsh1Bytes(const std::uint32_t* x, DataBuffer& out);
// -1 for a short buffer; with result null, the size the form takes.
int wordBignumFromSsh1Bytes(const unsigned char* buffer, std::uint32_t length, WordBignum* result);
// The body of an SSH mpint of the non-negative value.
void wordBignumToMpintBytes(const std::uint32_t* x, DataBuffer& out);
void wordBignumToMpInt(const std::uint32_t* x, mp_int* m);
// Null for zero.
WordBignum wordBignumFromMpInt(const mp_int* m);

} // namespace tessik
