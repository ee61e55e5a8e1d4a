// One booking row of KVSYSTEM.KVS321BEW as the run holds it.
#pragma once

#include <string>

// One of the five row keys exactly as the server sent it (before trimming),
// so that the marking finds the very row that was fetched.
struct RowKey {
  std::string text;
  bool is_null = false;
};

enum RowKeyIndex { kKeyBewIDN, kKeyBewSto, kKeyBewDtm, kKeyBewUhr, kKeyBewLfn, kRowKeyCount };

// Seventeen texts named after the table's columns. BewDtm holds the booking
// date as YYYYMMDD000000, BewUhr the time stamp as YYYYMMDDHHMMSS. A NULL
// column arrives as the empty text. BewEra is rewritten by the code mapping.
struct BookingRecord {
  std::string BewTID;
  std::string BewLID;
  std::string BewIDN;
  std::string BewSto;
  std::string BewDtm;
  std::string BewUhr;
  std::string BewLfn;
  std::string BewArt;
  std::string BewTas;
  std::string BewEra;
  std::string BewKze;
  std::string BewBer;
  std::string BewErq;
  std::string BewKst;
  std::string BewQua;
  std::string BewRes;
  std::string BewSrc;
  RowKey keys[kRowKeyCount];  // BewIDN, BewSto, BewDtm, BewUhr, BewLfn as fetched
};
