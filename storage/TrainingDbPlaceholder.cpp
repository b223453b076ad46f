// The training database grows here.
