// Clips damaged on purpose: byte-level edits of clips made at test time, as
// a broken disk, a careless tool or a hostile sender would leave them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

std::vector<std::uint8_t> ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);

// Sets the picture size that every baseline JPEG frame from frame
// `firstFrame` on declares (its SOF0 segment); returns the frames edited.
int SetJpegFrameSizes(std::vector<std::uint8_t>& bytes, int firstFrame, int width, int height);

// Sets the picture size an AVI file's headers declare: the main header and
// the video stream's format. False when either is missing.
bool SetAviPictureSize(std::vector<std::uint8_t>& bytes, std::int32_t width, std::int32_t height);

// Kinds of damage that the mutated-media runs apply, each from a seed.
enum class Damage { Truncate, FlipBits, HeaderField };
constexpr Damage kDamages[] = {Damage::Truncate, Damage::FlipBits, Damage::HeaderField};
const char* DamageName(Damage damage);

// `bytes` damaged in the given way, the same for the same seed: cut at a
// random length, a few random bits flipped, or a 16/32-bit field near the
// start (where containers keep their headers) set to an extreme value.
std::vector<std::uint8_t> Damaged(const std::vector<std::uint8_t>& bytes, Damage damage,
                                  std::uint32_t seed);
