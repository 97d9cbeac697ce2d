/*
 * orvel.h - card library: electronic-purse cards in a reader on a serial
 * line opened with the serial line library (tarvex.h).
 *
 * Every card command takes the port number first, runs to completion on the
 * caller's thread and returns a result code:
 *   0  every exchange was accepted
 *   1  sending the first command block failed
 *   2  the first reply was missing or refused by the reader
 *   3  sending the GET RESPONSE follow-up failed
 *   4  the follow-up's reply was missing or refused
 *   5+ command-specific (see each function)
 * Output buffers are written only on result 0 unless a function says
 * otherwise. Byte parameters use their low 8 bits, word parameters their
 * low 16 bits. Keys given as pointers are 8 raw bytes.
 *
 * Calling convention: the platform's default C convention (cdecl on 32-bit
 * Windows). Names are exported undecorated.
 */
#ifndef ORVEL_H
#define ORVEL_H

#if defined(_WIN32)
#define ORVEL_API
#else
#define ORVEL_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Reader link and card power --------------------------------------- */

/* Sends a command block of len bytes (1..126) as a wire frame: the block and
 * its XOR check character as uppercase hex text, then 0x03. Writes the check
 * character at block[len] and 0x00 at block[len+1]: block needs len + 2
 * bytes. Discards stale bytes in the receive queue first.
 * Returns 0 written; 1 not written (or len outside 1..126: nothing sent). */
ORVEL_API int OrvelSendFrame(int port, unsigned char *block, int len);

/* Reads one reply frame (hex text up to 0x03, one failed read allowed in
 * all), decodes it into reply (at most 127 bytes and a 0x00: 128 bytes of
 * room) and applies the reader-status rule.
 * Returns 0 accepted (status 0x00 or 0xE7, or byte 3 is 0x61); 1 no complete
 * reply (silent line, second stall, over 254 characters, odd character
 * count); 2 refused (also a reply of fewer than three bytes). A refused
 * reply stays decoded in reply; on 1 nothing is written. The rest of an
 * overlong reply is read and dropped up to its terminator (at most 4096
 * characters more), so the next reply starts clean. */
ORVEL_API int OrvelRcvFrame(int port, unsigned char *reply);

/* Power the card up or down. 0 done; 1 send failed; 2 reply missing or
 * refused; 3 reader status not 0x00. */
ORVEL_API int Gcr400PowerOn(int port);
ORVEL_API int Gcr400PowerOff(int port);

/* ---- Card information and file selection ------------------------------ */

/* Reads a block of card information (INS 0xC0). Le by p2: 0xA0, 0xA1, 0xA2
 * give 8, 0xA3 gives 4, 0xA4 gives 13, 0x06 gives 2, any other 0. Writes Le
 * bytes and a 0x00 to out (Le + 1 bytes). 0-2. */
ORVEL_API int OrvelGetInfo(int port, unsigned char cla, unsigned char p1,
                           unsigned char p2, unsigned char *out);

/* SELECT (INS 0xA4) of fileId, high byte first, then GET RESPONSE. 0-4. */
ORVEL_API int OrvelSelFil(int port, unsigned char p1, unsigned char p2,
                          unsigned char p3, unsigned short fileId);

/* CLA 0x80 INS 0xD8 P1 0xFF P2 0xFF with 8 data bytes, then GET RESPONSE.
 * 0-4. */
ORVEL_API int OrvelSetStatus(int port, unsigned char p3,
                             const unsigned char *data);

/* CLA 0x80 INS 0x14 with no data, then GET RESPONSE. 0-4. */
ORVEL_API int OrvelSwrPrt(int port, unsigned char p1, unsigned char p2);

/* ---- Triple DES, MAC and check-digit helpers (hex text) --------------- */

/* output = E(key1, D(key2, E(key1, input))): 16 uppercase hex characters
 * (output needs 17 bytes). Keys are 16 hex characters and a NUL; only the
 * first 16 characters of input are read. */
ORVEL_API void Triple_DES_Encryption(const char *input, char *output,
                                     const char *key1, const char *key2);

/* The same value as Triple_DES_Encryption, parameters in another order. */
ORVEL_API void MakeTemSysKey(const char *input, const char *key1,
                             const char *key2, char *output);

/* output = D(key2, E(key1, D(key2, input))). Undoes Triple_DES_Encryption
 * when called with the two keys exchanged. */
ORVEL_API void Triple_DES_Decryption(const char *input, char *output,
                                     const char *key1, const char *key2);

/* CBC MAC with two-key triple DES, zero IV and zero padding, over the
 * NUL-terminated uppercase hex text input (any length). Writes the 16 MAC
 * characters to output, no terminator. Keys are 8 raw bytes each. */
ORVEL_API void MakeMac(const char *input, char *output,
                       const unsigned char *key1, const unsigned char *key2);

/* output[i] = digit of (value of first[i]) XOR (value of second[i]) for 16
 * characters, no terminator. Digits are '0'-'9' and 'A'-'F' only. output
 * must not overlap either operand. */
ORVEL_API void ExOr(const char *first, char *output, const char *second);

/* Appends the XOR of the bytes spelled by text[0..count-1] as two hex
 * characters and a NUL: text needs count + 3 characters. Any count >= 0 (no
 * working copy, so no upper limit); a negative count counts as 0. */
ORVEL_API void MakeLrc(char *text, int count);

/* Writes the complemented XOR of the 11 bytes spelled by the 22 characters
 * of input as two hex characters, then two 0x00: output needs 4 bytes. */
ORVEL_API void GetSum(const char *input, char *output);

/* ---- Binary and record access ----------------------------------------- */

/* READ BINARY (0xB0) / READ RECORD (0xB2): one card-output exchange. Writes
 * le bytes and a 0x00 to out (le + 1 bytes). le 0..121; a larger le sends
 * nothing and gives 1. 0-2; out untouched on 1 and 2. */
ORVEL_API int OrvelRdBin(int port, unsigned char cla, unsigned char p1,
                         unsigned char p2, unsigned char le,
                         unsigned char *out);
ORVEL_API int OrvelRdRec(int port, unsigned char cla, unsigned char p1,
                         unsigned char p2, unsigned char le,
                         unsigned char *out);

/* UPDATE BINARY (0xD6) / WRITE BINARY (0xD0) of len data bytes, then GET
 * RESPONSE. With cla 0x04 the MAC variant: three MAC bytes go with the
 * command and three of the card's answer must match (else 5); keyA, keyB are
 * read only then. len 0..118 (0..115 with MAC); otherwise the command block
 * is not sent and the result is 1. The card is powered off on results 1 and
 * 2 (so a refused length still sends the power-down). 0-5. */
ORVEL_API int OrvelUpdBin(int port, unsigned char cla, unsigned char p1,
                          unsigned char p2, int len, const unsigned char *data,
                          const unsigned char *keyA, const unsigned char *keyB);
ORVEL_API int OrvelWrBin(int port, unsigned char cla, unsigned char p1,
                         unsigned char p2, unsigned char len,
                         const unsigned char *data, const unsigned char *keyA,
                         const unsigned char *keyB);

/* Single-exchange UPDATE BINARY / WRITE BINARY of len bytes, no MAC, no
 * follow-up. len 0..118; otherwise the command block is not sent and the
 * result is 1. The card is powered off on results 1 and 2 (so a refused
 * length still sends the power-down). 0-2. */
ORVEL_API int OrvelUpdBinPurse(int port, unsigned char cla, unsigned char p1,
                               unsigned char p2, int len,
                               const unsigned char *data);
ORVEL_API int OrvelWrBinPurse(int port, unsigned char cla, unsigned char p1,
                              unsigned char p2, unsigned char len,
                              const unsigned char *data);

/* Single-exchange UPDATE BINARY of exactly 16 bytes (P3 0x10). The card is
 * powered off on results 1 and 2. 0-2. */
ORVEL_API int OrvelWriteEFKey(int port, unsigned char cla, unsigned char p1,
                              unsigned char p2, const unsigned char *data);

/* ---- File creation ---------------------------------------------------- */

/* CREATE FILE (0xE0) with its fixed 12-byte data layout, up to 16 extra
 * bytes (p1 0x01: min(size, 16) bytes of extra), and three MAC bytes; then
 * GET RESPONSE and the response MAC check (5). Never powers off. 0-5. */
ORVEL_API int OrvelCreate(int port, unsigned char cla, unsigned char p1,
                          unsigned char p3, unsigned short word1,
                          unsigned char byte1, unsigned char byte2,
                          unsigned short size, unsigned short word3,
                          unsigned short word4, unsigned short word5,
                          const unsigned char *extra,
                          const unsigned char *keyA, const unsigned char *keyB);

/* ---- Purse operations ------------------------------------------------- */

/* INS 0x30 with 0x00, dataByte and data[0..7]; P2 is p2 & 0x0F. Writes
 * head (4 bytes and 0x00) and tail (3 bytes and 0x00). Card left powered on
 * failure. 0-4. */
ORVEL_API int OrvelSelPK(int port, unsigned char cla, unsigned char p1,
                         unsigned char p2, unsigned char dataByte,
                         const unsigned char *data, unsigned char *head,
                         unsigned char *tail);

/* INS 0x32 with data[0..3]; P2 is p2 & 0x0F. Writes balance (3 bytes and
 * 0x00) and tail (2 bytes and 0x00). Powered off on 1 and 2. 0-4. */
ORVEL_API int OrvelRdBal(int port, unsigned char cla, unsigned char p2,
                         const unsigned char *data, unsigned char *balance,
                         unsigned char *tail);

/* INS 0x36 with 0x00, amount[0..2] and data[0..7], one exchange. Powered off
 * on 1 and 2. 0-2. */
ORVEL_API int OrvelCredit(int port, unsigned char cla, unsigned char p1,
                          const unsigned char *amount,
                          const unsigned char *data);

/* INS 0x34 with the 24-bit amount (MSB first) and data[0..3]. Writes out
 * (2 bytes and 0x00). Powered off on 1 and 2. 0-4; 5 amount outside
 * 0..0xFFFFFF: nothing sent, card power unchanged. */
ORVEL_API int OrvelDebit(int port, unsigned char cla,
                         const unsigned char *data, int amount,
                         unsigned char *out);

/* Selects fileId, then writes the 20-byte purse-value record with P1
 * shortId + 0x80. 1 selection failed (card left powered); 2 write failed
 * (card powered off). 0-2. */
ORVEL_API int OrvelUpdatePurseValue(int port, unsigned char mark,
                                    unsigned short fileId,
                                    unsigned char shortId,
                                    const unsigned char *valueA,
                                    const unsigned char *valueB,
                                    const unsigned char *valueC,
                                    const unsigned char *valueD);

/* ---- Key-file selection and authentication ---------------------------- */

/* Key-file selection: CLA 0x80 INS 0x28 P1 P2 with the 8-byte challenge,
 * then GET RESPONSE with CLA 0x80 and Le 12 whatever the first reply said.
 * Writes cryptogram (4 bytes) and cardRandom (8 bytes) from the answer, no
 * terminators, only on 0. Never powers off. 0-4. */
ORVEL_API int OrvelSelFK(int port, unsigned char p1, unsigned char p2,
                         const unsigned char *challenge,
                         unsigned char *cryptogram, unsigned char *cardRandom);

/* Authenticates the card's current key file under the two-key key
 * keyA/keyB. The caller powers the card and selects the file first.
 * The 8-byte challenge is drawn afresh for every call from the operating
 * system's secure random generator (getrandom on Linux, BCryptGenRandom on
 * Windows), byte 0 first, and sent with OrvelSelFK P1 0x00 P2 0x01. If the
 * generator fails, nothing is sent and the result is 1: no predictable
 * challenge is ever used.
 * derivedKey1 = 3DES-EDE(cardRandom, keyA, keyB), derivedKey2 =
 * 3DES-EDE(cardRandom, keyB, keyA); the cryptogram must equal bytes 4..7 of
 * 3DES-EDE(challenge, derivedKey1, derivedKey2).
 * 0 authenticated: derivedKey1 and derivedKey2 written, 8 bytes and 0x00
 *   each (9 bytes of room);
 * 1 the generator failed or OrvelSelFK returned nonzero;
 * 2 cryptogram mismatch (wrong key or a reply that is not the card's).
 * Outputs untouched on 1 and 2; never powers the card up or off. */
ORVEL_API int OrvelAuth(int port, const unsigned char *keyA,
                        const unsigned char *keyB, unsigned char *derivedKey1,
                        unsigned char *derivedKey2);

/* Powers up (one retry), selects 0x3F01 (OrvelSelFil P1 0x00 P2 0x00 P3
 * 0x02) and runs OrvelAuth. 0 authenticated: card left powered with 0x3F01
 * selected, derived keys written as by OrvelAuth; 1 power-up failed (not
 * powered off); 2 selection failed; 3 authentication failed (powered off on
 * 2 and 3). */
ORVEL_API int OrvelInfoFile(int port, const unsigned char *keyA,
                            const unsigned char *keyB,
                            unsigned char *derivedKey1,
                            unsigned char *derivedKey2);

/* VERIFY (CLA cla, INS 0x20, P1 0x00, P2 p2) of an 8-byte code, one
 * exchange. 0 the reader accepted the reply, whatever SW1 SW2 the card gave;
 * 1 send failed; 2 reply missing or refused (powered off on 1 and 2). */
ORVEL_API int OrvelVerify(int port, unsigned char cla, unsigned char p2,
                          const unsigned char *code);

/* Powers up (one retry), reads 8 bytes at offset 0 of the current file,
 * presents their DES encryption under key with VERIFY, reads record 1 with
 * P2 0x02 (READ RECORD P1 0x01 P2 0x02 Le 8) into out (8 bytes, no
 * terminator) and powers off (retried once; its result does not count).
 * out[0..3] are cleared once the card is powered.
 * 0 read; 1 power-up failed (not powered off, out untouched) or the read of
 * the 8 bytes failed; 2 VERIFY failed; 3 the record read failed. The card is
 * powered off after every result but the failed power-up. */
ORVEL_API int OrvelBCardRead(int port, const unsigned char *key,
                             unsigned char *out);

/* ---- System key derivation and key change ----------------------------- */

/* Powers up (one retry), reads the serial number (OrvelGetInfo CLA 0x80 P1
 * 0x02 P2 0xA1) and writes it (8 bytes and 0x00) and the system key, its DES
 * encryption under masterKey, to sysKey1 and sysKey2 (8 bytes and 0x00
 * each, the same bytes in both). Powers off at the end, also on failure.
 * 0 done; 1 power-up failed; 2 serial-number read failed (outputs untouched
 * on 1 and 2). */
ORVEL_API int OrvelMakeSysKey(int port, const unsigned char *masterKey,
                              unsigned char *sysKey1, unsigned char *sysKey2,
                              unsigned char *serial);

/* Changes the card's key to the system key of masterKey: powers up (one
 * retry), reads the serial number, authenticates with OrvelAuth under
 * keyA/keyB on the file current after power-up, then writes two 16-byte key
 * records (00 00 00, check byte, system key, P1, P2, 16-bit sum of bytes
 * 0..13 high byte first), each 8-byte half enciphered separately with
 * Triple_DES_Decryption under derivedKey1/derivedKey2, with OrvelWriteEFKey
 * CLA 0x04: first to P1 0x81 P2 0x00, then to P1 0x00 P2 0x03. Powers off.
 * 0 both records written (powered off); 1 power-up failed (not powered off);
 * 2 serial-number read failed (powered off) or authentication failed (left
 * powered); 3 first write failed; 4 second write failed after the first was
 * accepted (powered off by the write on 3 and 4). */
ORVEL_API int OrvelChangeKey(int port, const unsigned char *keyA,
                             const unsigned char *keyB,
                             const unsigned char *masterKey);

#ifdef __cplusplus
}
#endif

#endif /* ORVEL_H */
