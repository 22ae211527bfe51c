// Keeps the test-support library non-empty before any double exists.
namespace Zelvo::testing { int supportAnchor = 0; }
