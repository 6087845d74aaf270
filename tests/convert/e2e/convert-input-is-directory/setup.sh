mkdir molecules.smi
