# One chain of 10,000 carbon atoms: the default atom limit, converted whole.
printf '%s decane-1000\n' "$(printf 'C%.0s' $(seq 10000))" > chain.smi
