-- Opens the office's database in Debian's sqlcipher shell, SQLCipher 3.4.1
-- (Debian 12) or 4.x (Debian 13, which reads SQLCipher 3 files only after
-- cipher_compatibility and answers "ok" to the key): the same lines serve
-- both, and print nothing.
.output /dev/null
PRAGMA key = 'Rt6081M73';
.output stdout
PRAGMA cipher_compatibility = 3;
