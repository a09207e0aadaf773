#pragma once
// The array type of the settings (ARRAY_TYPE): how a probe's intensities are modelled.

#include <ostream>

// Each type is stored as its letter in the settings file.
enum class ArrayType : char {
  kLrrBaf = 'I',            // log R ratio and B-allele frequency; R by total copy number
  kAlleleSpecificR = 'A',   // R by allele-specific class on SNP probes
  kTotalOnly = 'T',         // total intensity only: CN probes only
};

// The letter of the settings file: 'I', 'A' or 'T'.
inline char letter_of(ArrayType type) { return static_cast<char>(type); }

// The type of a letter the settings parser admitted ('I', 'A' or 'T').
inline ArrayType array_type_of(char letter) { return static_cast<ArrayType>(letter); }

// Writes the type's letter.
inline std::ostream& operator<<(std::ostream& out, ArrayType type) { return out << letter_of(type); }
