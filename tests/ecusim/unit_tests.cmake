# Unit tests of the virtual ECU's own parts (wire bytes, fault plans, model answers).
set(ECUSIM_UNIT_TEST_SOURCES
)
