#pragma once
// The three files the writer's and the tool's tests describe:
// Setup.exe.rename ("abc"), Data1.cab (empty) and Data2.cab (55 times 'a'),
// listed in that order. Digests from sha1sum and sha256sum, never from our
// own hashers.

inline constexpr const char* kSha1Abc = "A9993E364706816ABA3E25717850C26C9CD0D89D";
inline constexpr const char* kSha1Empty = "DA39A3EE5E6B4B0D3255BFEF95601890AFD80709";
inline constexpr const char* kSha1A55 = "C1C8BBDC22796E28C0E15163D20899B65621D65A";
inline constexpr const char* kSha256Abc = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
inline constexpr const char* kSha256Empty =
    "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
inline constexpr const char* kSha256A55 = "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318";

// Their two checksum sections as an info file lists them.
inline constexpr const char* kSampleChecksumSections =
    "[Checksum]\r\n"
    "File1=A9993E364706816ABA3E25717850C26C9CD0D89D\r\n"
    "File2=DA39A3EE5E6B4B0D3255BFEF95601890AFD80709\r\n"
    "File3=C1C8BBDC22796E28C0E15163D20899B65621D65A\r\n"
    "\r\n"
    "[Checksum256]\r\n"
    "File1=ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad\r\n"
    "File2=e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855\r\n"
    "File3=9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318\r\n";
