# Unit tests of the virtual ECU's own parts (wire bytes, fault plans, model answers).
set(ECUSIM_UNIT_TEST_SOURCES
  wire_test.cpp
  faults_test.cpp
  ecu_model_test.cpp
  ecu_parts_test.cpp
)
