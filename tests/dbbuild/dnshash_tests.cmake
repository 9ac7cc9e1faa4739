# Tests of the DNS resolving database: its build and its reader.
veldana_test(dbbuild_dns_hash_tests dns_hash_test.cpp dns_hash_reader_test.cpp
             LIBS veldana_dnshash veldana_dbreports veldana_resolvers veldana_progress)
