/*
 * tarvex.h - serial line library.
 *
 * Port functions work on a process-wide table of 201 rows, one per port
 * number 0..200; port number n names the device COMn. Framing helpers,
 * CRCs and byte-order conversions work on caller-owned buffers only.
 *
 * Calling convention: the platform's default C convention (cdecl on
 * 32-bit Windows). Names are exported undecorated.
 *
 * A port number outside 0..200 names a port that does not exist: setters
 * do nothing, COM_Open returns 0, reads, writes and queries return false
 * or 0, and COM_Close returns true.
 */
#ifndef TARVEX_H
#define TARVEX_H

#include <stdbool.h>
#include <stdint.h>

#if defined(_WIN32)
#define TARVEX_API
#else
#define TARVEX_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Port settings ---------------------------------------------------- */

/* Stores the line settings of a port for the next COM_Open and clears its
 * debug flag. Touches no device.
 * baud: 110, 300, 600, 1200, 2400, 4800, 14400, 19200, 38400, 56000,
 *       57600, 115200 or 256000; any other value means 9600.
 * dataBits: only the low byte is used.
 * parity: 'N', 'O', 'E' or 'M' in either case; any other character keeps
 *       the device's present parity.
 * stopBits: 1 one stop bit, 2 two, any other value one and a half.
 * readTimeoutMs: T, the fixed part of the read time-out: a read of n bytes
 *       waits at most 500*n + T ms, a write at most 500*n + 1000 ms. */
TARVEX_API void COM_Initialize(int port, int baud, int dataBits, char parity,
                               char stopBits, int readTimeoutMs);

/* Configures an open port anew with these settings, which are stored for
 * later opens too. Returns 1 applied; 0 port not open or a configuration
 * call failed; -1 the device refused the line state (the port stays open). */
TARVEX_API int COM_Setting(int port, int baud, int dataBits, char parity,
                           char stopBits, int readTimeoutMs);

/* Resets the port's stored line-state record to 9600 8N1 with every flag
 * clear. The record is replaced by the device's state at each configuration,
 * so this never reaches the line by itself. */
TARVEX_API void DCB_Clear(int port);

/* Sets the port's debug flag: true exactly when value is 1. The flag is only
 * stored and returned. */
TARVEX_API void DebugSetting(int port, int value);
TARVEX_API bool Get_DebugFlag(int port);

/* True while the library holds the port open (configured or not). */
TARVEX_API bool IsOpened(int port);

/* The port's device handle while it is open, otherwise a null handle. */
TARVEX_API void *GetCommHandle(int port);

/* ---- Open, close, transfer -------------------------------------------- */

/* Opens \\?\COMn exclusively and applies the stored settings.
 * Returns 1 opened and configured; -99 already open (nothing touched);
 * 0 the device did not open, or it opened but a configuration call failed
 * (the port then stays open: call COM_Close to release it); -1 the device
 * refused the line state (the port is closed again). */
TARVEX_API int COM_Open(int port);

/* Closes the port, restoring the time-outs found at the last configuration.
 * The line state stays as the library set it. Always returns true. */
TARVEX_API bool COM_Close(int port);

/* Reads count bytes into buf. True when all of them arrived within
 * 500*count + T ms. On false, the bytes that did arrive are in buf and gone
 * from the receive queue. A read of 0 bytes on an open port is true.
 * buf must have room for count bytes. */
TARVEX_API bool COM_Read(int port, unsigned char *buf, uint32_t count);

/* Writes count bytes from buf. True when all were written within
 * 500*count + 1000 ms. */
TARVEX_API bool COM_Write(int port, const unsigned char *buf, uint32_t count);

/* Discard the receive or transmit queue. Nonzero when emptied; 0 on a port
 * that is not open. */
TARVEX_API int COM_RxBuffer_Clear(int port);
TARVEX_API int COM_TxBuffer_Clear(int port);

/* Bytes waiting in the receive or transmit queue (also clears the device's
 * error state). 0 on a port that is not open or when the query fails. */
TARVEX_API uint32_t Get_RxBufferSize(int port);
TARVEX_API uint32_t Get_TxBufferSize(int port);

/* Blocks until a character arrives; true when a received character ended the
 * wait, false when the wait failed (port not open, device gone). */
TARVEX_API bool WaitRxEvent(int port);

/* Clears the device's error state. Nonzero on success. */
TARVEX_API int SetRxEvent(int port);

/* Waits for the acknowledgement byte 0x06 after the caller has sent a
 * message, in at most three one-byte reads; after each wrong byte it sends
 * the count bytes of msg again. True when 0x06 arrived. reply must have room
 * for 4 bytes: on return it holds the last byte read (or 0) and three zero
 * bytes. */
TARVEX_API bool ACK_Check(int port, const unsigned char *msg,
                          unsigned char *reply, int count);

/* ---- Block check characters, hex text and BCD ------------------------- */

/* Stores the XOR of block[0..count-1] at block[count] and 0x00 at
 * block[count+1]: block needs count + 2 bytes (2 when count <= 0). */
TARVEX_API void Make_1Byte_BCC(unsigned char *block, int count);

/* Stores the XOR, then the sum modulo 256, then 0x00 after the block:
 * block needs count + 3 bytes (3 when count <= 0). */
TARVEX_API void Make_2Byte_BCC(unsigned char *block, int count);

/* 1 when block[count] holds the XOR of block[0..count-1] (and, for the
 * two-byte form, block[count+1] the sum), else 0. */
TARVEX_API bool Check_1Byte_BCC(const unsigned char *block, int count);
TARVEX_API bool Check_2Byte_BCC(const unsigned char *block, int count);

/* Writes 2*count uppercase hex digits of src to dst, no terminator. */
TARVEX_API void Bcd_To_Ascii(char *dst, const unsigned char *src, int count);

/* Writes 2*count uppercase hex digits of src and a NUL: dst needs
 * 2*count + 1 characters. count 0..127; a count above 127 converts the
 * first 127 bytes, a negative count converts nothing (only the NUL). */
TARVEX_API void Ascii_To_HexStr(char *dst, const unsigned char *src, int count);

/* Decode count hex characters (either case) into count/2 + count%2 bytes.
 * No character is rejected: one up to '9' gives its low four bits, any other
 * (c + 9) & 0x0F, so 'G' gives 0 and ':' gives 3. With an odd count the
 * last byte's low nibble is 0. count 0..256; a larger count decodes the
 * first 256 characters, a negative count decodes nothing.
 * HexStr_To_Ascii also writes a 0x00 after the bytes: dst needs one byte
 * more than it decodes. */
TARVEX_API void Ascii_To_Bcd(unsigned char *dst, const char *src, int count);
TARVEX_API void HexStr_To_Ascii(unsigned char *dst, const char *src, int count);

/* ---- CRCs and byte order ---------------------------------------------- */

/* Fill the CRC tables; call once before any CRC is computed. Until then
 * the tables are zero and every register stays 0. */
TARVEX_API void make_crc_table(void);
TARVEX_API void make_crc32_table(void);

/* CRC-16 (polynomial 0x1021, initial 0, MSB first) of block[0..count-1],
 * stored high byte first at block[count], each byte below 0x20 raised by
 * 0x20. block needs count + 2 bytes. count 0..65535. */
TARVEX_API void Make_CRC(unsigned char *block, int count);
TARVEX_API bool Check_CRC(const unsigned char *block, int count);

/* CRC-32 register (reflected 0xEDB88320, initial 0, no final complement),
 * stored most significant byte first at block[count..count+3]. */
TARVEX_API void Make_CRC32(unsigned char *block, uint32_t count);
TARVEX_API bool Check_CRC32(const unsigned char *block, uint32_t count);

/* The complemented register, least significant byte first; the check runs
 * the register over count + 4 bytes and accepts a residue of 0xDEBB20E3. */
TARVEX_API void Make_CRC32Bin(unsigned char *block, uint32_t count);
TARVEX_API bool Check_CRC32Bin(const unsigned char *block, uint32_t count);

/* 4 bytes to a 32-bit value, least or most significant byte first. */
TARVEX_API uint32_t Byte_To_LongLSBMSB(const unsigned char *src);
TARVEX_API uint32_t Byte_To_LongMSBLSB(const unsigned char *src);

/* A 32-bit value to bytes: LSBMSB writes 4 bytes and a 0x00 (5 bytes of
 * room); MSBLSB writes exactly 4. */
TARVEX_API void Long_To_ByteLSBMSB(uint32_t value, unsigned char *dst);
TARVEX_API void Long_To_ByteMSBLSB(uint32_t value, unsigned char *dst);

#ifdef __cplusplus
}
#endif

#endif /* TARVEX_H */
