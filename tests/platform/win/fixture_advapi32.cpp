// Stands in for the security library, whose entry points carry no prefix.
extern "C" int fixture_advapi_answer() {
  return 32;
}
