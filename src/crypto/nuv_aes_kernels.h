// Internal to the library (not installed): the bulk block functions behind NUV_AES, once
// portable and once with the processor's AES instructions. Round keys are laid out as in
// NUV_AES::m_round_keys: 16 bytes per round key in FIPS-197 byte order, the decryption
// schedule being that of the equivalent inverse cipher.
#pragma once

namespace nuv_aes_kernels {

/// One implementation of the cipher's bulk operations. `blocks` counts 16-byte blocks;
/// input and output may be the same buffer; `iv` is the 16-byte chain or register start.
struct KERNELS {
    void (*encrypt_blocks)(const unsigned char* round_keys, int rounds, const unsigned char* input,
                           int blocks, unsigned char* output);
    void (*decrypt_blocks)(const unsigned char* round_keys, int rounds, const unsigned char* input,
                           int blocks, unsigned char* output);
    void (*cbc_encrypt)(const unsigned char* round_keys, int rounds, const unsigned char* iv,
                        const unsigned char* input, int blocks, unsigned char* output);
    void (*cbc_decrypt)(const unsigned char* round_keys, int rounds, const unsigned char* iv,
                        const unsigned char* input, int blocks, unsigned char* output);
    void (*cfb1)(const unsigned char* round_keys, int rounds, const unsigned char* iv,
                 const unsigned char* input, int blocks, unsigned char* output, bool encrypting);
};

/// True when the processor has the AES instructions and SSE4.1.
bool accelerated_available();

/// The table-driven implementation; runs everywhere.
extern const KERNELS s_portable;
/// The AES-instruction implementation; only valid when accelerated_available().
extern const KERNELS s_accelerated;

/// True when the processor also has the vector AES instructions on 512-bit registers.
bool wide_available();

/// ECB over 512-bit registers, with the same arguments as KERNELS::encrypt_blocks and
/// KERNELS::decrypt_blocks; only valid when wide_available().
void wide_encrypt_blocks(const unsigned char* round_keys, int rounds, const unsigned char* input, int blocks,
                         unsigned char* output);
void wide_decrypt_blocks(const unsigned char* round_keys, int rounds, const unsigned char* input, int blocks,
                         unsigned char* output);

} // namespace nuv_aes_kernels
