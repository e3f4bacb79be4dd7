# As variable-chain-broken (6.00/512, record 5's variable pointer names a page
# past the last), walked along key 0: records come through the engine's
# fetch by key instead of its physical step.
build --version 6.00 --page-size 512 --records 20 --variable 100 D6.DAT --damage variable-broken=record:5
