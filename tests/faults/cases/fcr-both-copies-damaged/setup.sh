# 6.00/512: both FCR copies (physical pages 0 and 1) all zeros.
build --version 6.00 --page-size 512 --records 40 D6.DAT --damage zero-page=0 --damage zero-page=1
