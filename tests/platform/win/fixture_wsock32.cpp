// Stands in for the socket library: one prefixed entry point and one without the prefix.
extern "C" int wsk_fixture_answer() {
  return 42;
}
extern "C" int fixture_plain() {
  return 7;
}
