// Makes many distinct certificates quickly, in process, for store tests and
// benchmarks: one P-256 key signs self-issued certificates that differ in
// serial number and common name.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tessaline::test {

class CertFactory {
 public:
  CertFactory();
  ~CertFactory();
  CertFactory(const CertFactory&) = delete;
  CertFactory& operator=(const CertFactory&) = delete;

  // DER of a certificate with subject C=CN, O=Tessaline Test, CN=<name>,
  // serial SERIAL, valid from now for a year.
  std::vector<uint8_t> Make(const std::string& name, uint64_t serial);

 private:
  struct Key;
  std::unique_ptr<Key> key_;
};

}  // namespace tessaline::test
