# As zero-data-page (6.00/512, data page 1 with records 14-27 all zeros),
# walked backwards: records 39 down to 28, then the damage.
build --version 6.00 --page-size 512 --records 40 D6.DAT --damage zero-page=data-page:1
