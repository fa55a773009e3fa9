// The fingerprint of a segmented job: SHA-256 fields over the identity of
// the main video, that of the overlay and every setting that shapes the
// output. Every segment carries it, so that `join` can refuse segments of
// different jobs, and a random shadow style without --seed takes its seed
// from it, so that every segment of a job draws alike.
#pragma once

#include <cstdint>
#include <string>

#include "apps/quillmere/base/sha256_fields.h"

using JobFingerprint = Sha256Fields;

// The seed a random shadow style takes from a fingerprint: its first eight
// hex digits as a number.
std::uint32_t SeedFromFingerprint(const std::string& fingerprint);
