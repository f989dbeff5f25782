#pragma once
// Puts the tests in Central European time with its summer time, whatever the machine's zone:
// each desk's test support does it its own way (tests/linux/, tests/windows/).

namespace kelvor::testing {

void useCentralEuropeanTime();

}  // namespace kelvor::testing
