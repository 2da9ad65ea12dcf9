# tests
