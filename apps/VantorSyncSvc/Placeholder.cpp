// The service objects grow here.
